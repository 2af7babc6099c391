#pragma once

#include "client/read.h"
#include "client/result.h"
#include "client/transport_security.h"
#include "tools/run_journal.h"
#include "tools/security_options.h"

#include <CLI/App.hpp>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tamsu {
class TamsuClient;
}

namespace tamsu_cli {

// Everything "tamsu basecall" was asked to do. Client parameters that were not given stay
// unset, so the client's own defaults apply.
struct BasecallOptions {
    // Setter calls by the setter's name, in the order they are made.
    using SetterCalls = std::vector<std::pair<const char*, std::function<tamsu::Result()>>>;

    std::vector<std::string> inputs;   // files, directories or "-" for standard input
    bool recursive = false;            // also the input files in subdirectories of a directory
    std::vector<std::string> servers;  // empty: run the embedded server
    std::string config = "toy_flipflop_fast";
    std::string output_dir = ".";
    bool emit_fastq = false;   // reads.fastq instead of reads.bam
    bool emit_sam = false;     // reads.sam instead of reads.bam
    std::string command_line;  // as given, for the output's header
    bool verbose = false;
    bool resume = false;  // go on with an interrupted run in output_dir
    // The options that shape the outputs, by flag, with their values (defaults included): a run
    // resumes only one that had the same.
    RunSettings output_settings;

    std::string barcode_kits;
    bool require_barcodes_both_ends = false;
    std::optional<float> min_score_front;
    std::optional<float> min_score_rear;
    std::optional<float> min_score_masks;
    std::optional<float> min_score_mid;
    bool detect_mid_strand_barcodes = false;
    bool trim_barcodes = false;

    std::string lamp_kit;
    std::optional<float> min_score_lamp_barcodes;
    std::optional<float> min_score_lamp_masks;
    std::optional<float> min_score_lamp_targets;
    std::optional<unsigned long> additional_context_bases;
    std::optional<unsigned long> min_length_lamp_contexts;
    std::optional<unsigned long> min_length_lamp_targets;
    bool detect_mid_strand_adapter = false;

    std::string index;
    std::string alignment_type;
    std::string bed;

    std::optional<tamsu::Read::Priority> priority;
    std::optional<unsigned long> timeout_ms;
    std::optional<unsigned long> connection_timeout_ms;
    std::optional<unsigned long> file_load_timeout_s;
    std::optional<unsigned long> reconnect_timeout_s;
    std::optional<unsigned long> block_size;
    std::optional<unsigned long> max_reads_queued;
    bool moves = false;
    bool state_data = false;
    std::string name = "tamsu";
    SecurityOptions curve_files;  // the key files named; `security` holds their keys
    tamsu::TransportSecurity security;

    // Adds every option of "tamsu basecall" to `app`; parsing fills this object, and a value out
    // of range makes it throw CLI::ParseError. The object must outlive `app`.
    void add_to(CLI::App& app);
    // Once parsed: checks what no option can check alone and reads the key files. Throws
    // UsageError, and std::runtime_error for a key file that cannot be used.
    void check();

    // Calls the client's setter for every parameter given. Returns the name of the first
    // setter that failed, or an empty text.
    std::string apply_to(tamsu::TamsuClient& client) const;

private:
    void add_run_options(CLI::App& app);
    void add_barcoding_options(CLI::App& app);
    void add_lamp_options(CLI::App& app);
    void add_alignment_options(CLI::App& app);
    // The calls for the parameters that were given; they refer to this object and the client.
    void add_connection_calls(tamsu::TamsuClient& client, SetterCalls& calls) const;
    void add_output_calls(tamsu::TamsuClient& client, SetterCalls& calls) const;
    void add_barcoding_calls(tamsu::TamsuClient& client, SetterCalls& calls) const;
    void add_lamp_calls(tamsu::TamsuClient& client, SetterCalls& calls) const;
};

}  // namespace tamsu_cli
