#pragma once

#include "ipc_tools/curve_keys.h"
#include "ipc_tools/message.h"
#include "support/read_factory.h"

#include <zmq.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace server_test {

using ipc_tools::Message;
using ipc_tools::MessageType;
using tamsu_test::make_samples;

// A plain REQ socket, or a CURVE one with `keys`; a request that gets no answer leaves it
// unusable, so tests that expect silence use a fresh client afterwards.
class TestClient {
public:
    explicit TestClient(const std::string& endpoint, const ipc_tools::CurveKeys& keys = {})
    {
        m_socket.set(zmq::sockopt::linger, 0);
        if (keys.enabled()) {
            m_socket.set(zmq::sockopt::curve_serverkey, keys.server_public_key);
            m_socket.set(zmq::sockopt::curve_publickey, keys.client_public_key);
            m_socket.set(zmq::sockopt::curve_secretkey, keys.client_secret_key);
        }
        m_socket.connect(endpoint);
    }

    // Sends `request` and waits up to `timeout` for the reply; an UNSET message when none came.
    Message exchange(Message request,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(10000))
    {
        zmq::message_t out;
        request.transfer_to_zmq(out);
        return exchange_raw(out, timeout);
    }

    Message exchange_raw(zmq::message_t& out,
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(10000))
    {
        m_socket.send(out, zmq::send_flags::none);
        zmq::pollitem_t items[] = {{m_socket.handle(), 0, ZMQ_POLLIN, 0}};
        zmq::poll(items, 1, timeout);
        if ((items[0].revents & ZMQ_POLLIN) == 0) {
            return Message();
        }
        zmq::message_t in;
        (void)m_socket.recv(in, zmq::recv_flags::none);
        return Message(in);
    }

    Message simple(MessageType type, const std::string& id = {}, unsigned int value = 0,
                   const std::string& text = {})
    {
        return exchange(Message(type, id, value, text));
    }

private:
    zmq::context_t m_context{1};
    zmq::socket_t m_socket{m_context, zmq::socket_type::req};
};

inline std::string reply_text(const Message& reply)
{
    const auto* data = reply.get_message_data()->content_as_SimpleReplyData();
    return data != nullptr && data->text() != nullptr ? data->text()->str() : std::string();
}

inline unsigned int reply_value(const Message& reply)
{
    const auto* data = reply.get_message_data()->content_as_SimpleReplyData();
    return data != nullptr ? data->value() : 0;
}

// The connection string a client sends, written out by hand: config, options, kits and trim
// flag, then the index and BED file.
inline std::string connection_string(const std::string& config, const std::string& kits = {},
                                     const std::string& index = {}, const std::string& bed = {},
                                     const std::string& extra_options = {})
{
    std::string text = config + ":>timeout_interval=15000>client_name=test>alignment_type=auto" +
                       extra_options + ":";
    text += kits.empty() ? std::string(":") : kits + ":false";
    text += ":" + index;
    if (!index.empty() && !bed.empty()) {
        text += ";" + bed;
    }
    return text;
}

// One raw block of a read, as the client builds it.
inline Message raw_block(const std::string& id, MessageType type, std::uint32_t tag,
                         std::uint32_t index, std::uint32_t num_blocks, std::uint32_t duration,
                         const std::vector<std::int16_t>& samples, const std::string& read_id,
                         float offset = 10.0f, float scaling = 0.5f)
{
    flatbuffers::FlatBufferBuilder builder;
    const auto raw = builder.CreateVector(samples);
    const auto name = builder.CreateString(read_id);
    const auto block_type = type == MessageType::PASS_FIRST_RAW_BLOCK
                                    ? tamsu_ipc::ReadBlockType::PASS_FIRST_RAW_BLOCK
                                    : tamsu_ipc::ReadBlockType::PASS_NEXT_RAW_BLOCK;
    const auto content = tamsu_ipc::CreateReadBlockData(builder, block_type, tag, index, num_blocks,
                                                        duration, offset, scaling, name, raw);
    const auto connection = builder.CreateString(id);
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_connection_id(connection);
    root.add_content_type(tamsu_ipc::MessageContent::ReadBlockData);
    root.add_content(content.Union());
    builder.Finish(root.Finish(), "0007");
    return Message(builder);
}

// The blocks of a called read as the server returned them.
struct ReturnedRead {
    std::vector<Message> blocks;

    const tamsu_ipc::ReadBlockData& block(std::size_t i) const
    {
        return *blocks.at(i).get_message_data()->content_as_ReadBlockData();
    }
    const tamsu_ipc::CalledBlockData& called(std::size_t i) const
    {
        return *block(i).called_block();
    }
};

// Sends every block of a read and returns the reply types in order.
inline std::vector<MessageType> send_read(TestClient& client, const std::string& id,
                                          std::uint32_t tag,
                                          const std::vector<std::int16_t>& samples,
                                          const std::vector<std::size_t>& block_sizes,
                                          const std::string& read_id)
{
    std::vector<MessageType> replies;
    std::size_t offset = 0;
    const auto num_blocks = static_cast<std::uint32_t>(block_sizes.size());
    for (std::uint32_t i = 0; i < num_blocks; ++i) {
        const std::vector<std::int16_t> part(samples.begin() + static_cast<long>(offset),
                                             samples.begin() +
                                                     static_cast<long>(offset + block_sizes[i]));
        offset += block_sizes[i];
        const auto type =
                i == 0 ? MessageType::PASS_FIRST_RAW_BLOCK : MessageType::PASS_NEXT_RAW_BLOCK;
        replies.push_back(client.exchange(raw_block(id, type, tag, i, num_blocks,
                                                    static_cast<std::uint32_t>(samples.size()),
                                                    part, read_id))
                                  .get_type());
    }
    return replies;
}

// Asks for a called read until one comes (or the deadline passes), then fetches its further
// blocks. Returns no blocks when none came in time.
inline ReturnedRead fetch_read(TestClient& client, const std::string& id, unsigned int flags = 0,
                               std::chrono::seconds deadline = std::chrono::seconds(20))
{
    ReturnedRead read;
    const auto give_up = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < give_up) {
        auto reply = client.simple(MessageType::GET_FIRST_CALLED_BLOCK, id, flags);
        if (reply.get_type() == MessageType::RETURN_FIRST_CALLED_BLOCK) {
            read.blocks.push_back(std::move(reply));
            break;
        }
        if (reply.get_type() != MessageType::NONE_PENDING) {
            return read;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (read.blocks.empty()) {
        return read;
    }
    const auto tag = read.block(0).read_tag();
    for (std::uint32_t i = 1; i < read.block(0).num_blocks(); ++i) {
        read.blocks.push_back(client.simple(MessageType::GET_NEXT_CALLED_BLOCK, id, tag));
    }
    return read;
}

}  // namespace server_test
