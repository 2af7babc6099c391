#pragma once

#include "basecall_service/client_connection_state.h"
#include "basecall_service/connection_protocol.h"
#include "basecall_service/read_buffer.h"
#include "basecall_service/read_processing_protocol.h"
#include "ipc_tools/connection_info.h"

#include <cstdint>
#include <string>

// What the client does with each family of replies, driven exactly as the library drives it.
// The fuzz targets run these against fuzzed replies; the seed generator runs the same ones
// against the reference server, so recorded replies come in the order the targets read them.
namespace tamsu_fuzz {

// Milliseconds per wait for a reply; the stand-in server always answers at once.
constexpr unsigned int k_reply_timeout = 2000;

// --- Server queries -------------------------------------------------------------------------

constexpr std::uint8_t k_query_count = 5;

// Runs the public server query that `selector` picks (modulo k_query_count), names the barcodes
// of every kit it returns, and checks that outputs change only on success.
void run_query(std::uint8_t selector, const std::string& address);

// --- Handshake ------------------------------------------------------------------------------

// Where the alignment index and BED file of handshake_info() live. Only their names travel, but
// a connection string names them canonically, so they must exist: this creates them, with the
// given content when there is any.
void write_reference_files(const std::string& fasta = "", const std::string& bed = "");

// A connection that makes the handshake read every reply it can get: configuration, barcode
// and LAMP kits, alignment index and BED file.
ipc_tools::ConnectionInfo handshake_info(const std::string& config);

// One client's handshake with the server at `address`.
class Handshake {
public:
    Handshake(const std::string& address, ipc_tools::ConnectionInfo info);

    // The adapter for the read traffic, or null; a failure must say why.
    basecall_service::RequestBrokerAdapter* connect();
    std::string connection_id() const { return m_protocol.get_connection_id(); }
    void disconnect() const { m_protocol.disconnect_from_server(); }

private:
    basecall_service::ClientConnectionState m_state;
    basecall_service::ConnectionProtocol m_protocol;
    ipc_tools::ConnectionInfo m_info;
};

// --- Called reads ---------------------------------------------------------------------------

// The read every called-read input answers for: its sample count bounds what the replies may
// announce, and its raw blocks are what the server calls in blocks.
constexpr std::uint32_t k_read_tag = 1;
constexpr std::size_t k_read_samples = 1500;
constexpr unsigned long k_read_stride = 5;
constexpr std::size_t k_block_strides = 80;  // four raw blocks, so four called blocks

// The pull flags, from the first byte of a called-read input.
struct PullOptions {
    bool disable_events = false;
    bool pull_state_data = false;
};
PullOptions pull_options(std::uint8_t byte);
std::uint8_t options_byte(PullOptions options);

// One read queued on a fresh buffer, then pulled back through the read protocol.
class CalledReadSession {
public:
    CalledReadSession(PullOptions options, const std::string& connection_id);

    // The server holds every raw block: the read is submitted without traffic.
    void assume_submitted();
    // Sends every raw block.
    bool push(basecall_service::RequestBrokerAdapter& adapter);
    // Pulls the first called block and its follow-ups, reassembles the read and reads every
    // metadata value back as a host does. A failure must say why, and a read comes back whole
    // or not at all.
    void pull(basecall_service::RequestBrokerAdapter& adapter);

private:
    // A stopped protocol only takes the buffer, so exchanges can be driven one at a time.
    void attach(basecall_service::RequestBrokerAdapter& adapter);

    basecall_service::ReadBuffer m_buffer;
    basecall_service::ReadProcessingProtocol m_protocol;
};

}  // namespace tamsu_fuzz
