#include "client/tamsu_client_impl.h"

#include "client/security_conversion.h"
#include "client/status_conversion.h"
#include "common/make_canonical_path.h"
#include "interfaces/read_alignment_helper.h"

namespace tamsu {

TamsuClientImpl::TamsuClientImpl(std::string address, std::string config_name)
        : m_address(std::move(address))
        , m_config_name(std::move(config_name))
{
    const auto trace = create_trace("TamsuClientImpl");
}

// Releasing the engine stops its worker.
TamsuClientImpl::~TamsuClientImpl() = default;

std::shared_ptr<basecall_service::BasecallClient> TamsuClientImpl::engine() const
{
    std::lock_guard<std::mutex> lock(m_client_mutex);
    return m_engine;
}

ConnectionStatus TamsuClientImpl::get_status() const
{
    const auto current = engine();
    return current ? to_connection_status(current->get_connection_state().get_status())
                   : ConnectionStatus::disconnected;
}

TamsuClientImpl::Parameters TamsuClientImpl::parameters() const
{
    std::lock_guard<std::mutex> lock(m_parameters_mutex);
    return m_parameters;
}

ipc_tools::ConnectionInfo TamsuClientImpl::connection_info(const Parameters& parameters) const
{
    ipc_tools::ConnectionInfo info;
    info.m_config_name = m_config_name;
    info.m_client_name = parameters.client_name;
    info.m_barcode_kits = parameters.barcode_kits;
    info.m_alignment_index = common::make_canonical_path(parameters.align_index_file);
    info.m_bed_file = common::make_canonical_path(parameters.bed_file);
    info.m_alignment_type = parameters.alignment_type;
    info.m_priority = static_cast<std::uint32_t>(parameters.priority);
    info.m_barcoding_options = parameters.barcoding;
    // The front score stands for the rear score unless that was set on its own.
    info.m_barcoding_options.m_min_score_rear_override = parameters.explicit_rear_score
                                                                 ? parameters.explicit_rear_score
                                                                 : parameters.barcoding.m_min_score;
    info.m_timeout_interval = parameters.connection_timeout_ms;
    return info;
}

Result TamsuClientImpl::connect()
{
    const auto trace = create_trace("connect");
    const auto status = get_status();
    if (status == ConnectionStatus::error) {
        return Result::failed;
    }
    if (status != ConnectionStatus::disconnected) {
        return Result::already_connected;
    }
    const auto settings = parameters();
    const auto info = connection_info(settings);
    trace.message("connecting");

    auto fresh = std::make_shared<basecall_service::BasecallClient>(
            settings.block_size, settings.max_reads_queued, settings.disable_events,
            settings.enable_state_data, settings.callback);
    fresh->set_reconnect_timeout(std::chrono::seconds(settings.reconnect_timeout));
    fresh->set_curve_keys(to_curve_keys(settings.transport_security));
    if (settings.state_change_handler) {
        fresh->get_connection_state().register_change_handler(
                [handler = settings.state_change_handler](auto old_status, auto snapshot) {
                    handler(to_connection_status(old_status),
                            to_connection_status(snapshot->get_status()),
                            to_string(snapshot->get_error_state()));
                });
    }
    {
        std::lock_guard<std::mutex> lock(m_client_mutex);
        m_engine = fresh;
    }
    fresh->connect(m_address, settings.timeout, settings.server_file_load_timeout, info);

    const auto snapshot = fresh->get_connection_state().create_snapshot();
    switch (snapshot->get_status()) {
    case basecall_service::ClientStatus::disconnected:
        return Result::failed;
    case basecall_service::ClientStatus::error:
        return to_result(snapshot->get_error_state().code);
    default:
        return Result::success;
    }
}

Result TamsuClientImpl::disconnect()
{
    const auto trace = create_trace("disconnect");
    const auto current = engine();
    if (!current || get_status() == ConnectionStatus::disconnected) {
        return Result::no_connection;
    }
    current->disconnect();
    return Result::success;
}

Result TamsuClientImpl::finish(unsigned long timeout_s)
{
    const auto trace = create_trace("finish");
    const auto status = get_status();
    if (status == ConnectionStatus::disconnected) {
        return Result::no_connection;
    }
    if (status == ConnectionStatus::error) {
        return Result::failed;
    }
    if (engine()->finish_by(timeout_s)) {
        return Result::success;
    }
    return get_status() == ConnectionStatus::disconnected ? Result::not_ready : Result::failed;
}

PassReadResult TamsuClientImpl::pass_read(Read& read, unsigned long timeout_ms)
{
    const auto current = engine();
    if (!current) {
        return PassReadResult::not_accepting_reads;
    }
    if (!content_problems(read).empty()) {
        return PassReadResult::invalid_read;
    }
    std::uint32_t priority = 0;
    {
        std::lock_guard<std::mutex> lock(m_parameters_mutex);
        priority = static_cast<std::uint32_t>(m_parameters.priority);
        if (timeout_ms == 0) {
            timeout_ms = m_parameters.default_pass_read_timeout_ms;
        }
    }
    auto& holder = read.get_readholder();
    const auto& raw = holder.get_datasets().at(interfaces::dataset::raw_data);
    holder.get_metadata().emplace("duration", static_cast<unsigned long>(raw.element_count));
    holder.set_priority(priority);
    holder.get_metadata().emplace(
            "model_stride",
            static_cast<unsigned long>(current->get_basecalling_config().model_stride));
    // A tag already in flight is refused there, in the same step that queues the read.
    return to_pass_read_result(current->pass_read(holder, timeout_ms));
}

void TamsuClientImpl::get_completed_reads(std::list<Read>& reads)
{
    const auto current = engine();
    if (!current) {
        return;
    }
    std::list<std::unique_ptr<interfaces::ReadHolder>> holders;
    current->get_completed_reads(holders);
    for (auto& holder : holders) {
        if (interfaces::ReadAlignmentHelper::read_holder_contains_alignment_data(*holder)) {
            interfaces::ReadAlignmentHelper::copy_alignment_results_to_metadata(*holder);
        }
        Read read;
        read.set_readholder(*holder);
        reads.push_back(std::move(read));
    }
}

std::string TamsuClientImpl::content_problems(const Read& read)
{
    std::string problems;
    const auto missing = [&](bool present, const char* item) {
        if (!present) {
            problems += item;
        }
    };
    const auto& metadata = read.get_metadata();
    missing(read.get_datasets().count(interfaces::dataset::raw_data) != 0,
            " raw_data dataset not found.");
    missing(metadata.exists("read_id"), " read_id metadata field not found.");
    missing(metadata.exists("daq_offset"), " daq_offset field not found.");
    missing(metadata.exists("daq_scaling"), " daq_scaling metadata field not found.");
    // Only the low 32 bits of a tag travel, and replies are matched by tag.
    const auto tag = read.get_read_tag();
    if (tag > 0xffffffffUL) {
        problems += " read_tag " + std::to_string(tag) + " does not fit in 32 bits.";
    }
    return problems;
}

bool TamsuClientImpl::validate_read(const Read& read, std::string& error_message) const
{
    auto problems = content_problems(read);
    const auto tag = read.get_read_tag();
    const auto current = engine();
    if (current && current->get_read_buffer()->is_in_flight(tag)) {
        problems += " read_tag " + std::to_string(tag) + " is already in flight.";
    }
    if (problems.empty()) {
        return true;
    }
    error_message = "Missing data in ReadHolder object:" + problems;
    return false;
}

std::string TamsuClientImpl::get_error_message() const
{
    const auto current = engine();
    if (!current) {
        return {};
    }
    const auto snapshot = current->get_connection_state().create_snapshot();
    return snapshot->get_status() == basecall_service::ClientStatus::error
                   ? to_string(snapshot->get_error_state())
                   : std::string();
}

Result TamsuClientImpl::get_basecalling_config(vask::data_wrappers::Metadata& config)
{
    const auto current = engine();
    if (!current) {
        return Result::no_connection;
    }
    const auto details = current->get_basecalling_config();
    config.insert("qscore_offset", details.qscore_offset);
    config.insert("qscore_scale", details.qscore_scale);
    config.insert("temp_weight", details.temp_weight);
    config.insert("temp_bias", details.temp_bias);
    config.insert("model_stride", static_cast<unsigned long>(details.model_stride));
    config.insert("label_length", static_cast<unsigned long>(details.label_length));
    config.insert("config_name", details.config_name);
    config.insert("model_type", details.model_type);
    config.insert("beam_cut", details.beam_cut);
    config.insert("beam_width", static_cast<unsigned long>(details.beam_width));
    return Result::success;
}

Result TamsuClientImpl::get_alignment_sam_header(std::string& header)
{
    const auto current = engine();
    if (!current) {
        return Result::no_connection;
    }
    header = current->get_alignment_sam_header();
    return Result::success;
}

void TamsuClientImpl::report_state(common::diagnostics::state::StateLogger& logger) const
{
    const auto settings = parameters();
    logger.log("status", to_string(get_status()));
    logger.log("priority", static_cast<long>(settings.priority));
    logger.log("m_connection_timeout_ms",
               static_cast<unsigned long>(settings.connection_timeout_ms));
    logger.log("m_address", m_address);
    logger.log("m_config_name", m_config_name);
    logger.log("m_barcode_kits", settings.barcode_kits);
    logger.log("m_align_index_file", settings.align_index_file);
    logger.log("m_bed_file", settings.bed_file);
    logger.log("m_timeout", static_cast<unsigned long>(settings.timeout));
    logger.log("m_server_file_load_timeout",
               static_cast<unsigned long>(settings.server_file_load_timeout));
    logger.log("m_block_size", settings.block_size);
    logger.log("m_max_reads_queued", settings.max_reads_queued);
    logger.log("m_disable_events", settings.disable_events);
    logger.log("m_enable_state_data", settings.enable_state_data);
    // Whether keys are set, never the keys.
    logger.log("m_transport_security",
               to_curve_keys(settings.transport_security).enabled() ? "curve" : "none");
    if (const auto current = engine()) {
        const auto client = logger.create_child_section("client");
        const auto section = logger.create_child_section("BasecallClient");
        current->report_state(logger);
    } else {
        logger.log("client", "null");
    }
}

}  // namespace tamsu
