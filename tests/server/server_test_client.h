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

// Waits up to a generous deadline for `done`.
template <typename Condition>
bool eventually(Condition done)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// A REQ socket (CURVE with `keys`); left unusable by a request that got no answer.
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

    // Sends the bytes and waits up to `timeout` for the reply; an UNSET message when none came.
    Message exchange(zmq::message_t out,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        m_socket.send(out, zmq::send_flags::none);
        zmq::pollitem_t items[] = {{m_socket.handle(), 0, ZMQ_POLLIN, 0}};
        zmq::message_t in;
        const bool answered = zmq::poll(items, 1, timeout) == 1 && m_socket.recv(in);
        return answered ? Message(in) : Message();
    }

    Message simple(MessageType type, const std::string& id = {}, unsigned int value = 0,
                   const std::string& text = {},
                   std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        zmq::message_t out;
        Message(type, id, value, text).transfer_to_zmq(out);
        return exchange(std::move(out), timeout);
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

inline std::uint32_t reply_value(const Message& reply)
{
    const auto* data = reply.get_message_data()->content_as_SimpleReplyData();
    return data != nullptr ? data->value() : 0;
}

// The connection string a client sends: config, options, kits and trim flag, index and BED file.
inline std::string connection_string(const std::string& config, const std::string& kits = {},
                                     const std::string& index = {}, const std::string& bed = {},
                                     const std::string& extra_options = {})
{
    std::string text = config + ":>timeout_interval=15000>client_name=test>alignment_type=auto" +
                       extra_options + ":";
    text += kits.empty() ? std::string(":") : kits + ":false";
    text += ":" + index;
    return !index.empty() && !bed.empty() ? text + ";" + bed : text;
}

// The bytes of one raw block of a read, as the client builds them.
inline zmq::message_t raw_block(const std::string& id, MessageType type, std::uint32_t tag,
                                std::uint32_t index, std::uint32_t num_blocks,
                                std::uint32_t duration, const std::vector<std::int16_t>& samples,
                                const std::string& read_id)
{
    flatbuffers::FlatBufferBuilder builder;
    const auto raw = builder.CreateVector(samples);
    const auto name = builder.CreateString(read_id);
    const auto block_type = type == MessageType::PASS_FIRST_RAW_BLOCK
                                    ? tamsu_ipc::ReadBlockType::PASS_FIRST_RAW_BLOCK
                                    : tamsu_ipc::ReadBlockType::PASS_NEXT_RAW_BLOCK;
    const auto content = tamsu_ipc::CreateReadBlockData(builder, block_type, tag, index, num_blocks,
                                                        duration, 10.0f, 0.5f, name, raw);
    const auto connection = builder.CreateString(id);
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_connection_id(connection);
    root.add_content_type(tamsu_ipc::MessageContent::ReadBlockData);
    root.add_content(content.Union());
    builder.Finish(root.Finish(), "0007");
    return zmq::message_t(builder.GetBufferPointer(), builder.GetSize());
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

// Sends every block of a read, in the sizes given, and returns the reply types in order.
inline std::vector<MessageType> send_read(TestClient& client, const std::string& id,
                                          std::uint32_t tag,
                                          const std::vector<std::int16_t>& samples,
                                          const std::vector<std::size_t>& block_sizes,
                                          const std::string& read_id)
{
    std::vector<MessageType> replies;
    auto begin = samples.begin();
    for (std::uint32_t i = 0; i < block_sizes.size(); begin += block_sizes[i++]) {
        const auto type =
                i == 0 ? MessageType::PASS_FIRST_RAW_BLOCK : MessageType::PASS_NEXT_RAW_BLOCK;
        const std::vector<std::int16_t> block(begin, begin + block_sizes[i]);
        replies.push_back(client.exchange(raw_block(id, type, tag, i, block_sizes.size(),
                                                    samples.size(), block, read_id))
                                  .get_type());
    }
    return replies;
}

// Waits for a called read and fetches all its blocks; none when none came in time.
inline ReturnedRead fetch_read(TestClient& client, const std::string& id)
{
    ReturnedRead read;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto reply = client.simple(MessageType::GET_FIRST_CALLED_BLOCK, id);
    for (; reply.get_type() == MessageType::NONE_PENDING &&
           std::chrono::steady_clock::now() < give_up;
         reply = client.simple(MessageType::GET_FIRST_CALLED_BLOCK, id)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (reply.get_type() == MessageType::RETURN_FIRST_CALLED_BLOCK) {
        read.blocks.push_back(std::move(reply));
        for (std::uint32_t i = 1; i < read.block(0).num_blocks(); ++i) {
            read.blocks.push_back(client.simple(MessageType::GET_NEXT_CALLED_BLOCK, id,
                                                read.block(0).read_tag()));
        }
    }
    return read;
}

}  // namespace server_test
