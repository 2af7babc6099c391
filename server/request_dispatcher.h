#pragma once

#include "ipc_tools/message.h"
#include "server/connect_handler.h"
#include "server/read_pipeline.h"
#include "server/read_returns.h"
#include "server/server_listings.h"
#include "server/server_state.h"

#include <boost/optional.hpp>
#include <zmq.hpp>

#include <chrono>
#include <cstddef>
#include <string>

namespace reference_server {

// Reads each request and hands it to the handler for its type, under the state lock. Any
// request naming a client keeps that client registered. Called on the serving thread only.
class RequestDispatcher {
public:
    // `endpoint` and `worker_count` are reported by GET_STATE.
    RequestDispatcher(ServerState& state, ReadPipeline& pipeline, std::string endpoint,
                      std::size_t worker_count);

    // The reply to the request in `payload`; `key` is the CURVE key that sent it, empty without
    // CURVE. Takes the state lock; returns before anything is sent.
    boost::optional<ipc_tools::Message> handle(zmq::message_t& payload, const std::string& key);
    // Forgets idle clients (see ReadPipeline::expire_idle_clients); takes the state lock.
    void expire_idle_clients(std::chrono::steady_clock::time_point now);

private:
    ipc_tools::Message dispatch(const ipc_tools::Message& request, const std::string& key);
    // The requests that name a client: `client` is the one named, null if not recognised.
    ipc_tools::Message dispatch_to_client(const tamsu_ipc::MessageData& data,
                                          const tamsu_ipc::SimpleRequestData& request,
                                          ipc_tools::MessageType type, ClientState* client);

    ServerState& m_state;
    ReadPipeline& m_pipeline;
    ServerListings m_listings;
    ConnectHandler m_connect;
    ReadReturns m_returns;
};

}  // namespace reference_server
