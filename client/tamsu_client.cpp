#include "client/tamsu_client.h"

#include "client/security_conversion.h"
#include "client/tamsu_client_impl.h"
#include "common/diagnostics/state/state_formatter.h"
#include "ipc_tools/protocol_version.h"

namespace tamsu {

namespace {

using Parameters = TamsuClientImpl::Parameters;

std::string text_of(bool value)
{
    return value ? "true" : "false";
}

std::string text_of(float value)
{
    return std::to_string(value);  // "%f"
}

template <typename Number>
std::string text_of(Number value)
{
    return std::to_string(value);
}

std::string text_of(const std::string& value)
{
    return value;
}

// Software version text: the release, then what it was built from.
constexpr const char* k_build_identifier = "tamsu";

}  // namespace

VersionTag::VersionTag(int major_, int minor_, int patch_)
        : major(major_)
        , minor(minor_)
        , patch(patch_)
        , text(std::to_string(major_) + "." + std::to_string(minor_) + "." + std::to_string(patch_))
{
}

TamsuClient::TamsuClient(std::string address, std::string config_name)
        : m_impl(std::make_unique<TamsuClientImpl>(std::move(address), std::move(config_name)))
{
}

TamsuClient::~TamsuClient() = default;

#define TAMSU_SETTER(setter, type, member)                                                         \
    Result TamsuClient::setter(type value)                                                         \
    {                                                                                              \
        return m_impl->set(#setter, text_of(value), [&](Parameters& p) { p.member = value; });     \
    }

TAMSU_SETTER(set_connection_timeout_ms, unsigned int, connection_timeout_ms)
TAMSU_SETTER(set_timeout, unsigned int, timeout)
TAMSU_SETTER(set_server_file_load_timeout, unsigned int, server_file_load_timeout)
TAMSU_SETTER(set_default_pass_read_timeout_ms, unsigned long, default_pass_read_timeout_ms)
TAMSU_SETTER(set_reconnect_timeout, unsigned int, reconnect_timeout)
TAMSU_SETTER(set_block_size, unsigned long, block_size)
TAMSU_SETTER(set_max_reads_queued, unsigned long, max_reads_queued)
TAMSU_SETTER(set_state_data_enabled, bool, enable_state_data)
TAMSU_SETTER(set_name, std::string, client_name)
TAMSU_SETTER(set_barcode_kits, const std::string&, barcode_kits)
TAMSU_SETTER(set_bed_file, const std::string&, bed_file)
TAMSU_SETTER(set_require_barcodes_both_ends, bool, barcoding.m_require_both_ends)
TAMSU_SETTER(set_min_score_rear_barcodes, float, explicit_rear_score)
TAMSU_SETTER(set_min_score_masks, float, barcoding.m_min_score_mask)
TAMSU_SETTER(set_detect_mid_strand_barcodes, bool, barcoding.m_detect_mid_strand_barcodes)
TAMSU_SETTER(set_min_score_mid_barcodes, float, barcoding.m_min_score_mid_barcodes)
TAMSU_SETTER(set_barcode_trimming_enabled, bool, barcoding.m_trim_barcodes)
TAMSU_SETTER(set_lamp_kit, const std::string&, barcoding.m_lamp_kit)
TAMSU_SETTER(set_min_score_lamp_barcodes, float, barcoding.m_min_score_lamp)
TAMSU_SETTER(set_min_score_lamp_masks, float, barcoding.m_min_score_lamp_mask)
TAMSU_SETTER(set_min_score_lamp_targets, float, barcoding.m_min_score_lamp_target)
TAMSU_SETTER(set_additional_context_bases, unsigned long, barcoding.m_additional_context_bases)
TAMSU_SETTER(set_min_length_lamp_contexts, unsigned long, barcoding.m_min_length_lamp_context)
TAMSU_SETTER(set_min_length_lamp_targets, unsigned long, barcoding.m_min_length_lamp_target)
TAMSU_SETTER(set_detect_mid_strand_adapter, bool, barcoding.m_detect_mid_strand_adapter)

#undef TAMSU_SETTER

Result TamsuClient::set_priority(Read::Priority priority)
{
    return m_impl->set("set_priority", std::to_string(static_cast<int>(priority)),
                       [&](Parameters& p) { p.priority = priority; });
}

Result TamsuClient::set_move_and_trace_enabled(bool enabled)
{
    return m_impl->set("set_move_and_trace_enabled", text_of(enabled),
                       [&](Parameters& p) { p.disable_events = !enabled; });
}

// The front score also stands for the rear score unless that is set on its own (where the
// connection information is built).
Result TamsuClient::set_min_score_front_barcodes(float score)
{
    return m_impl->set("set_min_score_front_barcodes", text_of(score),
                       [&](Parameters& p) { p.barcoding.m_min_score = score; });
}

Result TamsuClient::set_alignment_index_file(const std::string& index_file,
                                             const std::string& alignment_type)
{
    return m_impl->set("set_alignment_index_file", index_file, [&](Parameters& p) {
        p.align_index_file = index_file;
        p.alignment_type = alignment_type;
    });
}

// Traces only whether keys are set: the secret key must not end up in a trace.
Result TamsuClient::set_transport_security(TransportSecurity security)
{
    const auto* text = to_curve_keys(security).enabled() ? "curve" : "none";
    return m_impl->set("set_transport_security", text,
                       [&](Parameters& p) { p.transport_security = std::move(security); });
}

Result TamsuClient::set_callback_function(void (*callback)())
{
    return m_impl->set("set_callback_function", callback ? "function set" : "no function",
                       [&](Parameters& p) { p.callback = callback; });
}

Result TamsuClient::set_state_change_handler(StateChangeHandler handler)
{
    return m_impl->set("set_state_change_handler", "state change handler registered",
                       [&](Parameters& p) { p.state_change_handler = std::move(handler); });
}

ConnectionStatus TamsuClient::get_status() const
{
    return m_impl->get_status();
}

Result TamsuClient::connect()
{
    return m_impl->connect();
}

Result TamsuClient::disconnect()
{
    return m_impl->disconnect();
}

Result TamsuClient::finish(unsigned long timeout_s)
{
    return m_impl->finish(timeout_s);
}

PassReadResult TamsuClient::pass_read(Read& read, unsigned long timeout_ms)
{
    return m_impl->pass_read(read, timeout_ms);
}

void TamsuClient::get_completed_reads(std::list<Read>& reads)
{
    m_impl->get_completed_reads(reads);
}

bool TamsuClient::validate_read(const Read& read, std::string& error_message) const
{
    return m_impl->validate_read(read, error_message);
}

std::string TamsuClient::get_error_message() const
{
    return m_impl->get_error_message();
}

Result TamsuClient::get_basecalling_config(vask::data_wrappers::Metadata& config)
{
    return m_impl->get_basecalling_config(config);
}

Result TamsuClient::get_alignment_sam_header(std::string& header)
{
    return m_impl->get_alignment_sam_header(header);
}

std::string TamsuClient::get_internal_state() const
{
    return common::diagnostics::state::context::request_state(
            common::diagnostics::state::JsonFormatter());
}

VersionTag TamsuClient::get_api_version()
{
    return VersionTag(5, 0, 0);
}

VersionTag TamsuClient::get_data_wrappers_version()
{
    return VersionTag(1, 0, 0);
}

VersionTag TamsuClient::get_protocol_version()
{
    const auto& version = ipc_tools::current_protocol_version();
    return VersionTag(static_cast<int>(version.major()), static_cast<int>(version.minor()),
                      static_cast<int>(version.patch()));
}

VersionTag TamsuClient::get_software_version()
{
    VersionTag version(5, 0, 7);
    version.text += std::string("+") + k_build_identifier;
    return version;
}

}  // namespace tamsu
