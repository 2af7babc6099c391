#pragma once

#include "basecall_service/abstract_connection_protocol.h"
#include "basecall_service/abstract_read_processing_protocol.h"
#include "basecall_service/client_connection_state.h"
#include "basecall_service/pass_read_result.h"
#include "basecall_service/read_buffer.h"
#include "common/diagnostics/state/state_provider.h"
#include "common/synchronisation/latch.h"
#include "common/tracing/trace.h"
#include "interfaces/config_details.h"
#include "interfaces/read_holder.h"
#include "ipc_tools/connection_info.h"
#include "ipc_tools/curve_keys.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace basecall_service {

// The engine behind one client: a worker thread "client_worker" connects, hands the connection
// to the read traffic, reconnects after a lost server until the reconnect deadline, and reports
// the outcome through the connection state. Host threads may queue reads, collect results and
// stop it concurrently; connect is called once per engine.
class BasecallClient : public common::diagnostics::state::StateProvider,
                       private common::tracing::TraceDomain<BasecallClient> {
public:
    BasecallClient(unsigned long block_size, unsigned long max_reads_queued, bool disable_events,
                   bool pull_state_data, void (*callback)());
    // Stops and joins the worker.
    ~BasecallClient() override;
    BasecallClient(const BasecallClient&) = delete;
    BasecallClient& operator=(const BasecallClient&) = delete;

    // Starts the worker and blocks until it has connected or given up; the outcome is in the
    // connection state. `timeout` is the per-wait request time-out (ms), `file_load_timeout`
    // the time allowed per file load (s).
    void connect(const std::string& address, unsigned int timeout, unsigned int file_load_timeout,
                 ipc_tools::ConnectionInfo info);
    // Before connect only.
    void set_reconnect_timeout(std::chrono::seconds timeout);
    // Before connect only; the connection protocol in force at connect gets them.
    void set_curve_keys(ipc_tools::CurveKeys keys);

    // Queues a read, waiting up to `timeout_ms` for room; invalid_read for a tag in flight.
    PassReadResult pass_read(interfaces::ReadHolder& read, unsigned long timeout_ms);
    // Appends finished reads to `reads`.
    void get_completed_reads(std::list<std::unique_ptr<interfaces::ReadHolder>>& reads);
    // Stops taking reads, waits (in 100 ms steps, up to `timeout_s`, 0 for no limit) until every
    // read is back or the connection is gone, then stops the worker. True when every read came
    // back.
    bool finish_by(unsigned long timeout_s);
    // Stops the worker at once; an error status becomes disconnected.
    void disconnect();

    ClientConnectionState& get_connection_state() { return m_client_connection_state; }
    const ClientConnectionState& get_connection_state() const { return m_client_connection_state; }
    // Neither disconnected nor error.
    bool connection_status_is_active() const;
    std::shared_ptr<ReadBuffer> get_read_buffer() const;
    // Copies; valid once connected.
    interfaces::ConfigDetails get_basecalling_config() const;
    std::string get_alignment_sam_header() const;

    // Replace the collaborators before connect (tests use stand-ins).
    void set_connection_protocol(std::shared_ptr<AbstractConnectionProtocol> protocol);
    void set_read_processing_protocol(std::shared_ptr<AbstractReadProcessingProtocol> protocol);

    void report_state(common::diagnostics::state::StateLogger& logger) const override;

private:
    void start_worker_thread();
    void worker_loop(void (*callback)());
    void run_connections(const std::shared_ptr<ReadBuffer>& read_buffer);
    RequestBrokerAdapter* connect_to_server();
    std::chrono::system_clock::time_point
    calculate_reconnect_timeout_time(std::chrono::seconds timeout) const;
    std::shared_ptr<ReadBuffer> create_read_buffer();
    void join_worker_thread();
    void record_worker_failure(const std::string& what);
    // Sleeps until `until`; false, at once, when the worker is being stopped.
    bool pause_unless_stopped(std::chrono::steady_clock::time_point until) const;

    ClientConnectionState m_client_connection_state;
    std::shared_ptr<AbstractConnectionProtocol> m_connection_protocol;
    mutable std::mutex m_read_buffer_mutex;  // guards copying and replacing m_read_buffer
    std::shared_ptr<ReadBuffer> m_read_buffer;
    std::shared_ptr<AbstractReadProcessingProtocol> m_read_processing_protocol;
    void (*m_callback)();
    // Guards m_worker; held while joining, so concurrent disconnects wait for the same join.
    std::mutex m_worker_mutex;
    std::unique_ptr<std::thread> m_worker;
    std::atomic<bool> m_accept_data{false};
    // Set by disconnect and destruction: no further reconnection attempts.
    std::atomic<bool> m_stopping{false};
    common::synchronisation::Latch m_connect_latch{1};
    // Guards the copies below, taken by the worker after each connection so that host threads
    // never read the protocol's own values while a reconnection rewrites them.
    mutable std::mutex m_connection_details_mutex;
    interfaces::ConfigDetails m_config_details;
    std::string m_alignment_sam_header;
    ipc_tools::ConnectionInfo m_connection_info;
    unsigned int m_file_load_timeout = 0;
    std::chrono::seconds m_reconnect_timeout{300};
    ipc_tools::CurveKeys m_curve_keys;
    unsigned long m_max_reads_queued;
    unsigned long m_block_size;
};

}  // namespace basecall_service
