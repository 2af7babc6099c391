#pragma once

#include "ipc_tools/message.h"
#include "server/server_state.h"

#include <cstdint>
#include <memory>

namespace reference_server {

// Hands a client's called reads back block by block (GET_FIRST_CALLED_BLOCK,
// GET_NEXT_CALLED_BLOCK) and reports the reads it lost. Call with the state lock held.
class ReadReturns {
public:
    explicit ReadReturns(ServerState& state);

    // The first block of a read ready for `client`, alternately the newest and the oldest, so
    // that reads come back out of order; NONE_PENDING when none is ready (value 1: reads lost).
    ipc_tools::Message first_called_block(ClientState& client, std::uint32_t flags);
    // The next block of the read with `tag` whose first block went out.
    ipc_tools::Message next_called_block(ClientState& client, std::uint32_t tag);

private:
    // Removes a read ready to go out from the client's completed reads; null when none is.
    static std::shared_ptr<CompletedRead> take_ready_read(ClientState& client);
    void report_lost_reads(ClientState& client);

    ServerState& m_state;
};

}  // namespace reference_server
