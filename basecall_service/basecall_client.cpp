#include "basecall_service/basecall_client.h"

#include "basecall_service/connection_protocol.h"
#include "basecall_service/read_processing_protocol.h"
#include "common/logger.h"
#include "vask/util/set_thread_name.h"

#include <gsl/util>

#include <algorithm>
#include <thread>

namespace basecall_service {

namespace {

constexpr auto k_finish_step = std::chrono::milliseconds(100);
// Connection attempts that fail faster than this (a tiny request time-out, an absent server)
// are spaced out to it, so that reconnecting never spins.
constexpr auto k_min_attempt_interval = std::chrono::milliseconds(100);
constexpr auto k_stop_check_step = std::chrono::milliseconds(10);

long milliseconds_since_epoch(std::chrono::system_clock::time_point time)
{
    return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

}  // namespace

BasecallClient::BasecallClient(unsigned long block_size, unsigned long max_reads_queued,
                               bool disable_events, bool pull_state_data, void (*callback)())
        : m_connection_protocol(std::make_shared<ConnectionProtocol>(m_client_connection_state))
        , m_read_buffer(std::make_shared<ReadBuffer>())
        , m_read_processing_protocol(std::make_shared<ReadProcessingProtocol>())
        , m_callback(callback)
        , m_max_reads_queued(max_reads_queued)
        , m_block_size(block_size)
{
    const auto trace = create_trace("BasecallClient");
    m_read_processing_protocol->set_disable_events(disable_events);
    m_read_processing_protocol->set_pull_state_data(pull_state_data);
}

BasecallClient::~BasecallClient()
{
    const auto trace = create_trace("~BasecallClient");
    join_worker_thread();
}

void BasecallClient::connect(const std::string& address, unsigned int timeout,
                             unsigned int file_load_timeout, ipc_tools::ConnectionInfo info)
{
    const auto trace = create_trace("connect");
    m_connection_info = std::move(info);
    m_file_load_timeout = file_load_timeout;
    m_connection_protocol->set_connection_params(address, timeout);
    m_connection_protocol->set_curve_keys(m_curve_keys);
    start_worker_thread();
    m_connect_latch.wait();
}

void BasecallClient::set_reconnect_timeout(std::chrono::seconds timeout)
{
    write_trace("set_reconnect_timeout", [&] { return std::to_string(timeout.count()); });
    m_reconnect_timeout = timeout;
}

void BasecallClient::set_curve_keys(ipc_tools::CurveKeys keys)
{
    m_curve_keys = std::move(keys);
}

PassReadResult BasecallClient::pass_read(interfaces::ReadHolder& read, unsigned long timeout_ms)
{
    const auto refused = [this] {
        return !m_accept_data.load() ||
               m_client_connection_state.get_status() == ClientStatus::error;
    };
    if (refused()) {
        return PassReadResult::not_accepting_reads;
    }
    const auto result = get_read_buffer()->queue_read(read, timeout_ms);
    // The connection may have failed while the read waited for room.
    if (result == PassReadResult::queue_full && refused()) {
        return PassReadResult::not_accepting_reads;
    }
    return result;
}

void BasecallClient::get_completed_reads(std::list<std::unique_ptr<interfaces::ReadHolder>>& reads)
{
    get_read_buffer()->get_reads_out(reads);
}

bool BasecallClient::finish_by(unsigned long timeout_s)
{
    const auto trace = create_trace("finish_by");
    m_accept_data = false;
    const auto read_buffer = get_read_buffer();
    const float limit = static_cast<float>(timeout_s) * 10.0f;
    for (unsigned long steps = 0; !read_buffer->all_reads_processed();) {
        const auto status = m_client_connection_state.get_status();
        if (status == ClientStatus::disconnected || status == ClientStatus::error) {
            break;
        }
        std::this_thread::sleep_for(k_finish_step);
        ++steps;
        if (timeout_s != 0 && static_cast<float>(steps) > limit) {
            break;
        }
    }
    join_worker_thread();
    return read_buffer->all_reads_processed();
}

void BasecallClient::disconnect()
{
    const auto trace = create_trace("disconnect");
    join_worker_thread();
    m_client_connection_state.set_status_if(ClientStatus::error, ClientStatus::disconnected);
}

bool BasecallClient::connection_status_is_active() const
{
    const auto status = m_client_connection_state.get_status();
    return status != ClientStatus::disconnected && status != ClientStatus::error;
}

std::shared_ptr<ReadBuffer> BasecallClient::get_read_buffer() const
{
    std::lock_guard<std::mutex> lock(m_read_buffer_mutex);
    return m_read_buffer;
}

interfaces::ConfigDetails BasecallClient::get_basecalling_config() const
{
    std::lock_guard<std::mutex> lock(m_connection_details_mutex);
    return m_config_details;
}

std::string BasecallClient::get_alignment_sam_header() const
{
    std::lock_guard<std::mutex> lock(m_connection_details_mutex);
    return m_alignment_sam_header;
}

void BasecallClient::set_connection_protocol(std::shared_ptr<AbstractConnectionProtocol> protocol)
{
    m_connection_protocol = std::move(protocol);
}

void BasecallClient::set_read_processing_protocol(
        std::shared_ptr<AbstractReadProcessingProtocol> protocol)
{
    m_read_processing_protocol = std::move(protocol);
}

void BasecallClient::report_state(common::diagnostics::state::StateLogger& logger) const
{
    logger.log("m_client_connection_state", to_string(m_client_connection_state.get_status()));
    logger.log("m_accept_data", m_accept_data.load());
    const auto section = logger.create_child_section("ReadBuffer");
    get_read_buffer()->report_state(logger);
}

void BasecallClient::start_worker_thread()
{
    const auto trace = create_trace("start_worker_thread");
    m_accept_data = true;
    std::lock_guard<std::mutex> lock(m_worker_mutex);
    m_worker = std::make_unique<std::thread>([this] { worker_loop(m_callback); });
}

void BasecallClient::worker_loop(void (*callback)())
{
    vask::util::set_thread_name("client_worker");
    const auto trace = create_trace("worker_loop");
    // Whatever happens, connect() must return and blocked pass_read calls must be released.
    const auto release = gsl::finally([this] {
        m_connect_latch.count_down();
        get_read_buffer()->set_no_more_data();
    });
    try {
        if (callback != nullptr) {
            callback();
        }
        const auto read_buffer = create_read_buffer();
        const auto close_buffer = gsl::finally([&read_buffer] { read_buffer->set_no_more_data(); });
        run_connections(read_buffer);
    } catch (const std::exception& error) {
        record_worker_failure(error.what());
    } catch (...) {
        record_worker_failure("unknown exception");
    }
}

void BasecallClient::run_connections(const std::shared_ptr<ReadBuffer>& read_buffer)
{
    ErrorState error;
    RequestBrokerAdapter* adapter = nullptr;
    auto deadline = calculate_reconnect_timeout_time(m_reconnect_timeout);
    while (true) {
        const auto attempt_start = std::chrono::steady_clock::now();
        adapter = connect_to_server();
        error = m_connection_protocol->error_state();
        if (adapter != nullptr) {
            write_trace("worker_loop", "connected");
            m_connect_latch.count_down();
            error = m_read_processing_protocol->process_reads(read_buffer.get(), adapter);
            write_trace("worker_loop", [&] { return to_string(error); });
            deadline = calculate_reconnect_timeout_time(m_reconnect_timeout);
        }
        const bool retry = error.code == ConnectionError::timed_out &&
                           std::chrono::system_clock::now() < deadline && !m_stopping.load();
        if (!retry || !pause_unless_stopped(attempt_start + k_min_attempt_interval)) {
            break;
        }
    }
    m_accept_data = false;
    read_buffer->set_no_more_data();
    if (error.code != ConnectionError::no_error) {
        m_client_connection_state.set_error(error);
        TAMSU_LOG(error, "Connection error. " << error);
    }
    if (adapter != nullptr &&
        m_client_connection_state.get_error_state().code != ConnectionError::timed_out) {
        m_connection_protocol->disconnect_from_server();
    }
    if (m_client_connection_state.get_status() != ClientStatus::error) {
        m_client_connection_state.set_status(ClientStatus::disconnected);
    }
    write_trace("worker_loop",
                [this] { return to_string(m_client_connection_state.get_error_state()); });
}

bool BasecallClient::pause_unless_stopped(std::chrono::steady_clock::time_point until) const
{
    while (!m_stopping.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(until - now, k_stop_check_step));
    }
    return false;
}

void BasecallClient::record_worker_failure(const std::string& what)
{
    TAMSU_LOG(error, "Exception in client worker: " << what);
    m_accept_data = false;
    auto& state = m_client_connection_state;
    if (state.get_status() == ClientStatus::error) {
        return;
    }
    // An error can only be reached from a connection attempt.
    if (state.get_status() == ClientStatus::disconnected) {
        state.set_status(ClientStatus::preparing_connection);
    }
    state.set_error({ConnectionError::failed, what});
}

RequestBrokerAdapter* BasecallClient::connect_to_server()
{
    auto* adapter = m_connection_protocol->establish_server_connection(m_connection_info,
                                                                       m_file_load_timeout);
    if (adapter == nullptr) {
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(m_connection_details_mutex);
        m_config_details = m_connection_protocol->get_config_details();
        m_alignment_sam_header = m_connection_protocol->get_alignment_file_header();
    }
    const auto id = m_connection_protocol->get_connection_id();
    get_read_buffer()->set_connection_id(id);
    m_read_processing_protocol->set_connection_id(id);
    return adapter;
}

std::chrono::system_clock::time_point
BasecallClient::calculate_reconnect_timeout_time(std::chrono::seconds timeout) const
{
    const auto deadline = std::chrono::system_clock::now() + timeout;
    write_trace("calculate_reconnect_timeout_time", [&] {
        return "retry until (ms): " + std::to_string(milliseconds_since_epoch(deadline));
    });
    return deadline;
}

std::shared_ptr<ReadBuffer> BasecallClient::create_read_buffer()
{
    auto read_buffer = std::make_shared<ReadBuffer>();
    read_buffer->set_block_size(m_block_size);
    read_buffer->set_max_input_queue_size(m_max_reads_queued);
    std::lock_guard<std::mutex> lock(m_read_buffer_mutex);
    m_read_buffer = read_buffer;
    return read_buffer;
}

void BasecallClient::join_worker_thread()
{
    const auto trace = create_trace("join_worker_thread");
    m_stopping = true;
    m_accept_data = false;
    get_read_buffer()->set_no_more_data();
    m_read_processing_protocol->stop();
    // An idle worker sleeps until a ping is due; it is to notice the stop at once.
    get_read_buffer()->wake_worker();
    // A silent server would otherwise hold the worker for up to four request time-outs.
    m_connection_protocol->stop();
    std::lock_guard<std::mutex> lock(m_worker_mutex);
    if (m_worker && m_worker->joinable()) {
        m_worker->join();
    }
}

}  // namespace basecall_service
