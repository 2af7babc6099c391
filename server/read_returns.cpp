#include "server/read_returns.h"

#include "server/server_reply.h"

#include <vector>

namespace reference_server {

using ipc_tools::Message;
using ipc_tools::MessageType;

ReadReturns::ReadReturns(ServerState& state)
        : m_state(state)
{
}

Message ReadReturns::first_called_block(ClientState& client, std::uint32_t flags)
{
    if (m_state.faults.lose_reads) {
        for (const auto& read : client.completed) {
            client.lost.push_back(read->read_id);
        }
        client.completed.clear();
    }
    const auto read = take_ready_read(client);
    if (!read) {
        const bool lost = !client.lost.empty();
        if (lost) {
            report_lost_reads(client);
        }
        return reply(MessageType::NONE_PENDING, lost ? 1 : 0);
    }
    if ((flags & k_flag_state_data) != 0 && read->result.state_data.empty() &&
        read->result.state_size > 0) {
        ToyCaller::add_state_data(read->result);
    }
    flatbuffers::FlatBufferBuilder builder;
    build_called_block(builder, *read, 0, flags);
    if (read->blocks.size() > 1) {
        client.sending[read->read_tag] = OutgoingRead{read, 1, flags};
    } else {
        ++client.reads_returned;
    }
    return Message(builder);
}

std::shared_ptr<CompletedRead> ReadReturns::take_ready_read(ClientState& client)
{
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < client.completed.size(); ++i) {
        if (client.completed[i]->ready_at <= now) {
            ready.push_back(i);
        }
    }
    if (ready.empty()) {
        return nullptr;
    }
    const auto chosen = client.pick_newest ? ready.back() : ready.front();
    client.pick_newest = !client.pick_newest;
    auto read = client.completed[chosen];
    client.completed.erase(client.completed.begin() + static_cast<std::ptrdiff_t>(chosen));
    return read;
}

// On a loss report the client drops every read it has fully submitted, so every such read the
// server still holds is lost with the dropped ones: otherwise it would be neither returned nor
// reported. Reads still arriving are not: the client keeps and resends those.
void ReadReturns::report_lost_reads(ClientState& client)
{
    auto lost = client.lost;
    for (const auto& entry : client.calling) {
        lost.push_back(entry.second);
    }
    for (const auto& read : client.completed) {
        lost.push_back(read->read_id);
    }
    for (const auto& entry : client.sending) {
        lost.push_back(entry.second.read->read_id);
    }
    m_state.lost_reads_log.report(client.id, lost);
    client.lost.clear();
    client.calling.clear();
    client.completed.clear();
    client.sending.clear();
}

Message ReadReturns::next_called_block(ClientState& client, std::uint32_t tag)
{
    const auto found = client.sending.find(tag);
    if (found == client.sending.end()) {
        return reply(MessageType::BAD_REQUEST, 0,
                     "No further blocks pending for read " + std::to_string(tag));
    }
    auto& outgoing = found->second;
    flatbuffers::FlatBufferBuilder builder;
    build_called_block(builder, *outgoing.read, outgoing.next_block, outgoing.flags);
    if (++outgoing.next_block >= outgoing.read->blocks.size()) {
        client.sending.erase(found);
        ++client.reads_returned;
    }
    return Message(builder);
}

}  // namespace reference_server
