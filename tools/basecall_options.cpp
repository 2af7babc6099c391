#include "tools/basecall_options.h"

#include "client/tamsu_client.h"
#include "program_support/cli_options.h"
#include "tools/usage_error.h"

#include <algorithm>
#include <limits>
#include <set>
#include <sstream>

namespace tamsu_cli {

namespace {

using program_support::add_fraction;
using program_support::add_whole_number;

constexpr unsigned long k_max_32 = std::numeric_limits<std::uint32_t>::max();
constexpr unsigned long k_max_64 = std::numeric_limits<unsigned long>::max();

template <typename T, typename Setter>
void add_optional_call(BasecallOptions::SetterCalls& calls, const char* name,
                       const std::optional<T>& value, Setter setter)
{
    if (value) {
        calls.emplace_back(name, [value, setter] { return setter(*value); });
    }
}

struct NumberOption {
    const char* flag;
    std::optional<unsigned long>* target;
    unsigned long minimum;
    unsigned long maximum;
    const char* description;
};

void add_numbers(CLI::App& app, std::initializer_list<NumberOption> options)
{
    for (const auto& option : options) {
        add_whole_number(app, option.flag, *option.target, option.minimum, option.maximum,
                         option.description);
    }
}

void add_fractions(CLI::App& app,
                   std::initializer_list<std::pair<const char*, std::optional<float>*>> options)
{
    for (const auto& [flag, target] : options) {
        add_fraction(app, flag, *target, "");
    }
}

tamsu::Read::Priority parse_priority(const std::string& text)
{
    if (text == "high") {
        return tamsu::Read::HIGH_PRIORITY;
    }
    if (text == "medium") {
        return tamsu::Read::MEDIUM_PRIORITY;
    }
    if (text == "low") {
        return tamsu::Read::LOW_PRIORITY;
    }
    throw UsageError("--priority must be high, medium or low, not '" + text + "'");
}

// Options that change how reads travel or what is printed, not what is written (and the
// configuration, which add_to sets apart).
bool shapes_outputs(const std::string& name)
{
    static const std::set<std::string> others{"server",
                                              "name",
                                              "priority",
                                              "timeout",
                                              "connection-timeout",
                                              "file-load-timeout",
                                              "reconnect-timeout",
                                              "block-size",
                                              "max-reads-queued",
                                              "curve-server-key",
                                              "curve-keys",
                                              "verbose",
                                              "resume",
                                              "output-dir",
                                              "INPUT",
                                              "recursive",
                                              "config"};
    return others.count(name) == 0;
}

RunSettings settings_of(const CLI::App& app)
{
    RunSettings settings;
    // One "name=value" line per option, given or with a default.
    std::istringstream lines(app.config_to_str(true, false));
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        const auto name = line.substr(0, equals);
        if (equals != std::string::npos && shapes_outputs(name)) {
            settings.emplace_back("--" + name, line.substr(equals + 1));
        }
    }
    return settings;
}

}  // namespace

void BasecallOptions::add_to(CLI::App& app)
{
    app.add_option("INPUT", inputs, "files (.blow5, .slow5, text), directories, or - (stdin)")
            ->required()
            ->type_name("");
    app.option_defaults()->group("Input and output");
    app.add_flag("--recursive", recursive, "take input files from subdirectories too");
    app.add_option("--output-dir", output_dir,
                   "where the files go (default: the current directory)")
            ->type_name("DIR");
    auto* fastq = app.add_flag("--emit-fastq", emit_fastq,
                               "reads.fastq instead of reads.bam (tags in the header line)");
    app.add_flag("--emit-sam", emit_sam, "reads.sam instead of reads.bam")->excludes(fastq);
    app.add_flag("--resume", resume,
                 "go on with an interrupted run in the output directory, if there is one");
    app.final_callback([this, &app] {
        // The configuration as it applies: CLI11 does not know the default.
        output_settings = {{"--config", config}};
        const auto others = settings_of(app);
        output_settings.insert(output_settings.end(), others.begin(), others.end());
    });
    app.add_flag("--verbose", verbose, "let the library's log records through to standard error");
    add_run_options(app);
    curve_files.add_to(app);
    add_barcoding_options(app);
    add_lamp_options(app);
    add_alignment_options(app);
}

void BasecallOptions::add_run_options(CLI::App& app)
{
    app.option_defaults()->group("Server and run");
    app.add_option("--server", servers,
                   "a port, HOST:PORT or ipc://PATH (several: they share the reads); default: one "
                   "in this process")
            ->type_name("ADDRESS")
            ->allow_extra_args(false)  // one address each time, so INPUT may follow
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--config", config, "basecalling configuration (default toy_flipflop_fast)")
            ->type_name("NAME");
    app.add_option("--name", name, "the name the server shows for this client (default tamsu)")
            ->type_name("NAME");
    app.add_option_function<std::string>(
               "--priority", [this](const std::string& text) { priority = parse_priority(text); },
               "priority of the reads")
            ->type_name("high|medium|low");
    // A reply cannot come in no time: 0 would only fail and reconnect at once, again and again.
    // Samples per block are the block size times the model stride, a 32-bit number from the
    // server: with a 32-bit block size the product cannot overflow.
    add_numbers(app, {{"--timeout", &timeout_ms, 1, k_max_32,
                       "wait for each server reply, in ms (client default 2000)"},
                      {"--connection-timeout", &connection_timeout_ms, 0, k_max_32,
                       "how long the server keeps a quiet client, in ms (default 15000)"},
                      {"--file-load-timeout", &file_load_timeout_s, 0, k_max_32,
                       "time the server may take to load files, in s (default 30)"},
                      {"--reconnect-timeout", &reconnect_timeout_s, 0, k_max_32,
                       "how long to keep reconnecting to a lost server, in s (default 300)"},
                      {"--block-size", &block_size, 1, k_max_32,
                       "block length in model strides (default 50000)"},
                      {"--max-reads-queued", &max_reads_queued, 1, k_max_64,
                       "reads waiting to be sent before input waits (default 20)"}});
    app.add_flag("--moves", moves, "ask for moves and trace");
    app.add_flag("--state-data", state_data, "ask for state data");
}

void BasecallOptions::add_barcoding_options(CLI::App& app)
{
    app.option_defaults()->group("Barcoding");
    app.add_option("--barcode-kits", barcode_kits, "barcode kits, separated by blanks")
            ->type_name("\"KIT ...\"");
    app.add_flag("--require-barcodes-both-ends", require_barcodes_both_ends);
    add_fraction(app, "--min-score-front", min_score_front,
                 "also the rear score unless --min-score-rear is given");
    add_fractions(app, {{"--min-score-rear", &min_score_rear},
                        {"--min-score-masks", &min_score_masks},
                        {"--min-score-mid", &min_score_mid}});
    app.add_flag("--detect-mid-strand-barcodes", detect_mid_strand_barcodes);
    app.add_flag("--trim-barcodes", trim_barcodes);
}

void BasecallOptions::add_lamp_options(CLI::App& app)
{
    app.option_defaults()->group("LAMP barcoding");
    app.add_option("--lamp-kit", lamp_kit)->type_name("KIT");
    add_fractions(app, {{"--min-score-lamp-barcodes", &min_score_lamp_barcodes},
                        {"--min-score-lamp-masks", &min_score_lamp_masks},
                        {"--min-score-lamp-targets", &min_score_lamp_targets}});
    add_numbers(app, {{"--additional-context-bases", &additional_context_bases, 0, k_max_64, ""},
                      {"--min-length-lamp-contexts", &min_length_lamp_contexts, 0, k_max_64, ""},
                      {"--min-length-lamp-targets", &min_length_lamp_targets, 0, k_max_64, ""}});
    app.add_flag("--detect-mid-strand-adapter", detect_mid_strand_adapter);
}

void BasecallOptions::add_alignment_options(CLI::App& app)
{
    app.option_defaults()->group("Alignment");
    app.add_option("--index", index,
                   "FASTA file to align the called reads against; adds the SAM records")
            ->type_name("FILE");
    app.add_option("--alignment-type", alignment_type, "(default auto)")->type_name("TYPE");
    app.add_option("--bed", bed, "BED file of regions of interest")->type_name("FILE");
}

void BasecallOptions::check()
{
    if (!alignment_type.empty() && index.empty()) {
        throw UsageError("--alignment-type needs --index");
    }
    if (resume && std::find(inputs.begin(), inputs.end(), "-") != inputs.end()) {
        throw UsageError("--resume needs input files: standard input cannot be read again");
    }
    security = curve_files.read(!servers.empty());
}

std::string BasecallOptions::apply_to(tamsu::TamsuClient& client) const
{
    SetterCalls calls;
    add_connection_calls(client, calls);
    add_barcoding_calls(client, calls);
    add_lamp_calls(client, calls);
    for (const auto& call : calls) {
        if (call.second() != tamsu::Result::success) {
            return call.first;
        }
    }
    return {};
}

void BasecallOptions::add_connection_calls(tamsu::TamsuClient& c, SetterCalls& calls) const
{
    const auto u32 = [](unsigned long value) { return static_cast<unsigned int>(value); };
    if (priority) {
        calls.emplace_back("set_priority", [&] { return c.set_priority(*priority); });
    }
    if (timeout_ms) {
        calls.emplace_back("set_timeout", [&] { return c.set_timeout(u32(*timeout_ms)); });
    }
    if (connection_timeout_ms) {
        calls.emplace_back("set_connection_timeout_ms", [&] {
            return c.set_connection_timeout_ms(u32(*connection_timeout_ms));
        });
    }
    if (file_load_timeout_s) {
        calls.emplace_back("set_server_file_load_timeout", [&] {
            return c.set_server_file_load_timeout(u32(*file_load_timeout_s));
        });
    }
    if (reconnect_timeout_s) {
        calls.emplace_back("set_reconnect_timeout",
                           [&] { return c.set_reconnect_timeout(u32(*reconnect_timeout_s)); });
    }
    if (block_size) {
        calls.emplace_back("set_block_size", [&] { return c.set_block_size(*block_size); });
    }
    if (max_reads_queued) {
        calls.emplace_back("set_max_reads_queued",
                           [&] { return c.set_max_reads_queued(*max_reads_queued); });
    }
    add_output_calls(c, calls);
}

void BasecallOptions::add_output_calls(tamsu::TamsuClient& c, SetterCalls& calls) const
{
    if (moves) {
        calls.emplace_back("set_move_and_trace_enabled",
                           [&] { return c.set_move_and_trace_enabled(true); });
    }
    if (state_data) {
        calls.emplace_back("set_state_data_enabled",
                           [&] { return c.set_state_data_enabled(true); });
    }
    if (!name.empty()) {
        calls.emplace_back("set_name", [&] { return c.set_name(name); });
    }
    if (!security.server_public_key.empty()) {
        calls.emplace_back("set_transport_security",
                           [&] { return c.set_transport_security(security); });
    }
    if (!index.empty()) {
        calls.emplace_back("set_alignment_index_file", [&] {
            return alignment_type.empty() ? c.set_alignment_index_file(index)
                                          : c.set_alignment_index_file(index, alignment_type);
        });
    }
    if (!bed.empty()) {
        calls.emplace_back("set_bed_file", [&] { return c.set_bed_file(bed); });
    }
}

void BasecallOptions::add_barcoding_calls(tamsu::TamsuClient& c, SetterCalls& calls) const
{
    if (!barcode_kits.empty()) {
        calls.emplace_back("set_barcode_kits", [&] { return c.set_barcode_kits(barcode_kits); });
    }
    if (require_barcodes_both_ends) {
        calls.emplace_back("set_require_barcodes_both_ends",
                           [&] { return c.set_require_barcodes_both_ends(true); });
    }
    add_optional_call(calls, "set_min_score_front_barcodes", min_score_front,
                      [&](float v) { return c.set_min_score_front_barcodes(v); });
    add_optional_call(calls, "set_min_score_rear_barcodes", min_score_rear,
                      [&](float v) { return c.set_min_score_rear_barcodes(v); });
    add_optional_call(calls, "set_min_score_masks", min_score_masks,
                      [&](float v) { return c.set_min_score_masks(v); });
    if (detect_mid_strand_barcodes) {
        calls.emplace_back("set_detect_mid_strand_barcodes",
                           [&] { return c.set_detect_mid_strand_barcodes(true); });
    }
    add_optional_call(calls, "set_min_score_mid_barcodes", min_score_mid,
                      [&](float v) { return c.set_min_score_mid_barcodes(v); });
    if (trim_barcodes) {
        calls.emplace_back("set_barcode_trimming_enabled",
                           [&] { return c.set_barcode_trimming_enabled(true); });
    }
}

void BasecallOptions::add_lamp_calls(tamsu::TamsuClient& c, SetterCalls& calls) const
{
    if (!lamp_kit.empty()) {
        calls.emplace_back("set_lamp_kit", [&] { return c.set_lamp_kit(lamp_kit); });
    }
    add_optional_call(calls, "set_min_score_lamp_barcodes", min_score_lamp_barcodes,
                      [&](float v) { return c.set_min_score_lamp_barcodes(v); });
    add_optional_call(calls, "set_min_score_lamp_masks", min_score_lamp_masks,
                      [&](float v) { return c.set_min_score_lamp_masks(v); });
    add_optional_call(calls, "set_min_score_lamp_targets", min_score_lamp_targets,
                      [&](float v) { return c.set_min_score_lamp_targets(v); });
    add_optional_call(calls, "set_additional_context_bases", additional_context_bases,
                      [&](unsigned long v) { return c.set_additional_context_bases(v); });
    add_optional_call(calls, "set_min_length_lamp_contexts", min_length_lamp_contexts,
                      [&](unsigned long v) { return c.set_min_length_lamp_contexts(v); });
    add_optional_call(calls, "set_min_length_lamp_targets", min_length_lamp_targets,
                      [&](unsigned long v) { return c.set_min_length_lamp_targets(v); });
    if (detect_mid_strand_adapter) {
        calls.emplace_back("set_detect_mid_strand_adapter",
                           [&] { return c.set_detect_mid_strand_adapter(true); });
    }
}

}  // namespace tamsu_cli
