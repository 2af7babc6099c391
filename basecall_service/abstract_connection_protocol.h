#pragma once

#include "basecall_service/client_status.h"
#include "interfaces/config_details.h"
#include "ipc_tools/connection_info.h"
#include "ipc_tools/curve_keys.h"

#include <cstdint>
#include <string>

namespace basecall_service {

class RequestBrokerAdapter;

// The handshake that registers a client with the server, so the worker can be tested against a
// stand-in. Used by the worker thread only, except stop.
class AbstractConnectionProtocol {
public:
    virtual ~AbstractConnectionProtocol() = default;
    // Server address and the broker's per-wait time-out (ms); no network traffic.
    virtual void set_connection_params(const std::string& address, unsigned int timeout) = 0;
    // Transport security for every connection from now on (none by default).
    virtual void set_curve_keys(const ipc_tools::CurveKeys& keys) = 0;
    // The whole handshake; the adapter to use for the read traffic, or null with error_state()
    // saying why. `file_load_timeout` is in seconds per file.
    virtual RequestBrokerAdapter* establish_server_connection(const ipc_tools::ConnectionInfo& info,
                                                              std::uint32_t file_load_timeout) = 0;
    virtual const interfaces::ConfigDetails& get_config_details() const = 0;
    virtual std::string get_connection_id() const = 0;
    virtual const std::string& get_alignment_file_header() const = 0;
    virtual const ErrorState& error_state() const = 0;
    // Says goodbye to the server for the current connection; failures are only logged.
    virtual void disconnect_from_server() const = 0;
    // Any thread, for good: every wait for the server, now or later, ends after a short grace.
    virtual void stop() = 0;
};

}  // namespace basecall_service
