#include "tools/basecall_options.h"

#include "client/tamsu_client.h"
#include "tools/security_options.h"
#include "tools/usage_error.h"

#include <limits>

namespace tamsu_cli {

namespace {

constexpr unsigned long k_max_32 = std::numeric_limits<std::uint32_t>::max();
constexpr unsigned long k_max_64 = std::numeric_limits<unsigned long>::max();

std::optional<float> optional_fraction(const CommandLine& line, const std::string& name)
{
    return line.has(name) ? std::optional<float>(line.fraction(name, 0.0f)) : std::nullopt;
}

std::optional<unsigned long> optional_number(const CommandLine& line, const std::string& name,
                                             unsigned long maximum, unsigned long minimum = 0)
{
    return line.has(name) ? std::optional<unsigned long>(line.number(name, 0, maximum, minimum))
                          : std::nullopt;
}

template <typename T, typename Setter>
void add_optional_call(BasecallOptions::SetterCalls& calls, const char* name,
                       const std::optional<T>& value, Setter setter)
{
    if (value) {
        calls.emplace_back(name, [value, setter] { return setter(*value); });
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

}  // namespace

std::vector<CommandLine::Option> BasecallOptions::command_line_options()
{
    std::vector<CommandLine::Option> options;
    for (const char* name : {"server",
                             "config",
                             "output-dir",
                             "barcode-kits",
                             "min-score-front",
                             "min-score-rear",
                             "min-score-masks",
                             "min-score-mid",
                             "lamp-kit",
                             "min-score-lamp-barcodes",
                             "min-score-lamp-masks",
                             "min-score-lamp-targets",
                             "additional-context-bases",
                             "min-length-lamp-contexts",
                             "min-length-lamp-targets",
                             "index",
                             "alignment-type",
                             "bed",
                             "priority",
                             "timeout",
                             "connection-timeout",
                             "file-load-timeout",
                             "reconnect-timeout",
                             "block-size",
                             "max-reads-queued",
                             "name"}) {
        options.push_back({name, true});
    }
    for (const char* name :
         {"require-barcodes-both-ends", "detect-mid-strand-barcodes", "trim-barcodes",
          "detect-mid-strand-adapter", "moves", "state-data", "verbose", "recursive"}) {
        options.push_back({name, false});
    }
    for (const auto& option : SecurityOptions::command_line_options()) {
        options.push_back(option);
    }
    return options;
}

BasecallOptions BasecallOptions::from_command_line(const CommandLine& line)
{
    if (line.positionals().empty()) {
        throw UsageError("basecall needs an INPUT file or directory (or - for standard input)");
    }
    BasecallOptions options;
    options.inputs = line.positionals();
    options.recursive = line.has("recursive");
    options.server = line.text("server");
    options.config = line.text("config", options.config);
    options.output_dir = line.text("output-dir", options.output_dir);
    options.verbose = line.has("verbose");
    options.read_barcoding(line);
    options.read_lamp(line);
    options.read_connection(line);
    options.security = SecurityOptions::from_command_line(line, !options.server.empty());
    return options;
}

void BasecallOptions::read_barcoding(const CommandLine& line)
{
    barcode_kits = line.text("barcode-kits");
    require_barcodes_both_ends = line.has("require-barcodes-both-ends");
    min_score_front = optional_fraction(line, "min-score-front");
    min_score_rear = optional_fraction(line, "min-score-rear");
    min_score_masks = optional_fraction(line, "min-score-masks");
    min_score_mid = optional_fraction(line, "min-score-mid");
    detect_mid_strand_barcodes = line.has("detect-mid-strand-barcodes");
    trim_barcodes = line.has("trim-barcodes");
}

void BasecallOptions::read_lamp(const CommandLine& line)
{
    lamp_kit = line.text("lamp-kit");
    min_score_lamp_barcodes = optional_fraction(line, "min-score-lamp-barcodes");
    min_score_lamp_masks = optional_fraction(line, "min-score-lamp-masks");
    min_score_lamp_targets = optional_fraction(line, "min-score-lamp-targets");
    additional_context_bases = optional_number(line, "additional-context-bases", k_max_64);
    min_length_lamp_contexts = optional_number(line, "min-length-lamp-contexts", k_max_64);
    min_length_lamp_targets = optional_number(line, "min-length-lamp-targets", k_max_64);
    detect_mid_strand_adapter = line.has("detect-mid-strand-adapter");
}

void BasecallOptions::read_connection(const CommandLine& line)
{
    index = line.text("index");
    alignment_type = line.text("alignment-type");
    bed = line.text("bed");
    if (!alignment_type.empty() && index.empty()) {
        throw UsageError("--alignment-type needs --index");
    }
    if (line.has("priority")) {
        priority = parse_priority(line.text("priority"));
    }
    // A reply cannot come in no time: 0 would only fail and reconnect at once, again and again.
    timeout_ms = optional_number(line, "timeout", k_max_32, 1);
    connection_timeout_ms = optional_number(line, "connection-timeout", k_max_32);
    file_load_timeout_s = optional_number(line, "file-load-timeout", k_max_32);
    reconnect_timeout_s = optional_number(line, "reconnect-timeout", k_max_32);
    // Samples per block are the block size times the model stride, a 32-bit number from the
    // server: with a 32-bit block size the product cannot overflow.
    block_size = optional_number(line, "block-size", k_max_32, 1);
    max_reads_queued = optional_number(line, "max-reads-queued", k_max_64, 1);
    moves = line.has("moves");
    state_data = line.has("state-data");
    name = line.text("name", name);
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
