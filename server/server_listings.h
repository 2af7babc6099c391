#pragma once

#include "ipc_tools/message.h"
#include "server/server_state.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace reference_server {

// The replies to the requests that list what the server offers or report on it: GET_CONFIGS,
// GET_INDICES, GET_BARCODE_KITS, GET_LAMP_KITS, GET_STATISTICS and GET_STATE. Call them with the
// state lock held.
class ServerListings {
public:
    // Reports `endpoint` and `worker_count` in GET_STATE, and the uptime from now on.
    ServerListings(const ServerState& state, std::string endpoint, std::size_t worker_count);

    ipc_tools::Message get_configs() const;
    ipc_tools::Message get_indices() const;
    ipc_tools::Message get_barcode_kits() const;
    ipc_tools::Message get_lamp_kits() const;
    ipc_tools::Message get_statistics() const;
    // The server, its clients, what it loaded and its counters as JSON.
    ipc_tools::Message get_state() const;

private:
    using Clock = std::chrono::steady_clock;

    const ServerState& m_state;
    const std::string m_endpoint;
    const std::size_t m_worker_count;
    const Clock::time_point m_started = Clock::now();
};

}  // namespace reference_server
