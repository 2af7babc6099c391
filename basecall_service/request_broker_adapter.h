#pragma once

#include "basecall_service/client_status.h"
#include "ipc_tools/message.h"
#include "ipc_tools/request_broker.h"

#include <functional>
#include <string>

namespace basecall_service {

// The request broker behind the engine's error-state convention: every operation answers true
// or false and leaves the reason in error_state(); no exception of the IPC layer escapes. Used
// by the worker thread only, except request_stop.
class RequestBrokerAdapter {
public:
    bool prepare_connection(const std::string& address, unsigned int timeout,
                            const ipc_tools::CurveKeys& keys = {});
    // On true, `reply` holds the server's answer.
    bool send_request(ipc_tools::Message& request, ipc_tools::Message& reply);
    bool ping_server_if_quiet(const std::string& connection_id);
    std::chrono::steady_clock::duration time_until_ping() const
    {
        return m_broker.time_until_ping();
    }
    // Any thread: see RequestBroker::request_stop.
    void request_stop() { m_broker.request_stop(); }

    // The outcome of the last operation.
    const ErrorState& error_state() const { return m_error_state; }

    // Runs `action`, turning the IPC layer's exceptions into the error state.
    bool invoke(const std::function<void()>& action);

private:
    ipc_tools::RequestBroker m_broker;
    ErrorState m_error_state;
};

}  // namespace basecall_service
