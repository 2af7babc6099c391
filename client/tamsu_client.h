#pragma once

#include "client/read.h"
#include "client/result.h"
#include "client/transport_security.h"
#include "vask/data_wrappers/metadata.h"
#include "vask/util/tamsu_export.h"

#include <functional>
#include <list>
#include <memory>
#include <string>

namespace tamsu {

class TamsuClientImpl;

// A version as numbers and as "major.minor.patch" text.
struct TAMSU_EXPORT VersionTag {
    VersionTag(int major, int minor, int patch);
    int major;
    int minor;
    int patch;
    std::string text;
};

// One connection to a basecall server with one basecalling configuration.
//
// Life of a client: construct with the server address (a port, "host:port" or "ipc://path") and
// configuration name, set parameters, connect, pass reads and collect completed ones, then
// finish (wait for every read) or disconnect (stop at once). Parameters can only be changed
// while the status is disconnected; each connect starts afresh with the parameters then in force.
//
// Every operation may be called from any thread; none throws for a wrong state or a server
// failure, they report through Result and PassReadResult instead.
class TAMSU_EXPORT TamsuClient {
public:
    using StateChangeHandler = std::function<void(
            ConnectionStatus old_status, ConnectionStatus new_status, std::string error_message)>;

    // No network traffic until connect.
    TamsuClient(std::string address, std::string config_name);
    // Stops the worker as disconnect would (a live connection still says goodbye).
    ~TamsuClient();
    TamsuClient(const TamsuClient&) = delete;
    TamsuClient& operator=(const TamsuClient&) = delete;

    // Setters: success while disconnected, already_connected (and no change) otherwise.

    // Priority of every read this client passes.
    Result set_priority(Read::Priority priority);
    // How long the server keeps this client when it goes quiet (ms, default 15000).
    Result set_connection_timeout_ms(unsigned int timeout_ms);
    // Time-out of each wait for a server reply (ms, default 2000); an unanswered request gives
    // up after four of them.
    Result set_timeout(unsigned int timeout_ms);
    // How long the server may take to load the configuration, index or BED file (s, default 30).
    Result set_server_file_load_timeout(unsigned int timeout_s);
    // pass_read's wait for room when called with a time-out of 0 (ms, default 0).
    Result set_default_pass_read_timeout_ms(unsigned long timeout_ms);
    // How long to keep reconnecting after the server was lost (s, default 300).
    Result set_reconnect_timeout(unsigned int timeout_s);
    // Block length in model strides (default 50000).
    Result set_block_size(unsigned long block_size);
    // Reads that may wait to be sent before pass_read has to wait (default 20).
    Result set_max_reads_queued(unsigned long max_reads);
    // Moves and trace (or run-length results) in called reads (default off).
    Result set_move_and_trace_enabled(bool enabled);
    // State data in called reads (default off).
    Result set_state_data_enabled(bool enabled);
    // The name the server shows for this client.
    Result set_name(std::string name);
    // Kit names separated by blanks.
    Result set_barcode_kits(const std::string& kits);
    // The alignment index file, and the alignment type ("auto" by default).
    Result set_alignment_index_file(const std::string& index_file,
                                    const std::string& alignment_type = "auto");
    Result set_bed_file(const std::string& bed_file);
    Result set_require_barcodes_both_ends(bool required);
    // Also the rear score, unless that was set on its own.
    Result set_min_score_front_barcodes(float score);
    Result set_min_score_rear_barcodes(float score);
    Result set_min_score_masks(float score);
    Result set_detect_mid_strand_barcodes(bool detect);
    Result set_min_score_mid_barcodes(float score);
    Result set_barcode_trimming_enabled(bool enabled);
    Result set_lamp_kit(const std::string& kit);
    Result set_min_score_lamp_barcodes(float score);
    Result set_min_score_lamp_masks(float score);
    Result set_min_score_lamp_targets(float score);
    Result set_additional_context_bases(unsigned long bases);
    Result set_min_length_lamp_contexts(unsigned long length);
    Result set_min_length_lamp_targets(unsigned long length);
    Result set_detect_mid_strand_adapter(bool detect);
    // CURVE keys for the connection (see TransportSecurity); a plain connection by default.
    // With keys that are malformed or do not fit the server, connect fails (failed) and
    // get_error_message names the cause.
    Result set_transport_security(TransportSecurity security);
    // Called once on the client's worker thread when it starts.
    Result set_callback_function(void (*callback)());
    // Called on a dedicated thread, in order, for every status change; must not block for long.
    Result set_state_change_handler(StateChangeHandler handler);

    ConnectionStatus get_status() const;

    // Blocks until connected or given up (then the status is error and get_error_message says
    // why). Throws std::runtime_error when the index or BED path cannot be resolved.
    Result connect();
    // Stops at once: a request in progress gets a fraction of a second to be answered, however
    // long the request time-out. Reads not yet back are dropped, completed ones can still be
    // collected. A stop from another thread also ends a connect in progress.
    Result disconnect();
    // Stops taking reads, waits until every passed read is back (at most `timeout_s` seconds, 0
    // for no limit), then disconnects. not_ready when reads were still outstanding.
    Result finish(unsigned long timeout_s);

    // Takes the read's content on success (leaving `read` empty); otherwise `read` is unchanged.
    // Waits up to `timeout_ms` (0: the default pass-read time-out) for room in the queue.
    // invalid_read when the read is incomplete or a read with its tag is still in flight.
    PassReadResult pass_read(Read& read, unsigned long timeout_ms);
    // Appends every read completed since the last call.
    void get_completed_reads(std::list<Read>& reads);
    // Whether pass_read would accept the read's content; if not, says what is missing or wrong.
    bool validate_read(const Read& read, std::string& error_message) const;

    // "[code] message" while the status is error, else empty.
    std::string get_error_message() const;
    // The connected configuration's details; no_connection before the first connect.
    Result get_basecalling_config(vask::data_wrappers::Metadata& config);
    // The alignment index's SAM header; no_connection before the first connect.
    Result get_alignment_sam_header(std::string& header);

    // JSON report of every client's internal state in this process.
    std::string get_internal_state() const;

    static VersionTag get_api_version();
    static VersionTag get_data_wrappers_version();
    static VersionTag get_protocol_version();
    static VersionTag get_software_version();

private:
    std::unique_ptr<TamsuClientImpl> m_impl;
};

}  // namespace tamsu
