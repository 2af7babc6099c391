#pragma once

#include "ipc_tools/message.h"
#include "server/read_pipeline.h"
#include "server/server_state.h"

#include <boost/optional.hpp>

#include <cstdint>
#include <string>

namespace reference_server {

// Answers CONNECT: checks the connection string against what the server has loaded and
// registers the client under a new connection id. Call with the state lock held.
class ConnectHandler {
public:
    // Expires idle clients through `pipeline` to make room when the registry is full.
    ConnectHandler(ServerState& state, ReadPipeline& pipeline);

    // `key`: the CURVE key the request came from, empty without CURVE; it owns the client.
    ipc_tools::Message connect(const tamsu_ipc::SimpleRequestData& request, const std::string& key);

private:
    // Fills in how the client's reads are called; a refusal is the reply.
    boost::optional<ipc_tools::Message> resolve_call_settings(ClientState& client) const;
    // The alignment index and BED file the client names, if it names them.
    boost::optional<ipc_tools::Message> resolve_reference_files(ClientState& client) const;

    ServerState& m_state;
    ReadPipeline& m_pipeline;
    // Keeps ids of different server runs apart.
    const std::string m_nonce;
    std::uint64_t m_next_client_number = 1;
};

}  // namespace reference_server
