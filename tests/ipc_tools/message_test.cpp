#include "ipc_tools/message.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ipc_tools {
namespace {

using Bytes = std::vector<std::uint8_t>;
using tamsu_ipc::MessageContent;

Bytes message_bytes(const Message& message)
{
    zmq::message_t out;
    message.copy().transfer_to_zmq(out);
    const auto* data = static_cast<const std::uint8_t*>(out.data());
    return Bytes(data, data + out.size());
}

Message received(const Bytes& bytes)
{
    zmq::message_t zmq_message(bytes.data(), bytes.size());
    return Message(zmq_message);
}

constexpr std::int64_t k_no_table = -1;

// A MessageData from a peer of version 6.1.2: content under `tag` is a table holding only a
// raw type value (every content's type is its first field), or no table at all.
Bytes envelope(MessageContent tag, std::int64_t type)
{
    flatbuffers::FlatBufferBuilder builder;
    flatbuffers::Offset<void> content;  // a null offset adds no field
    if (type != k_no_table) {
        const auto start = builder.StartTable();
        builder.AddElement<std::uint32_t>(4, static_cast<std::uint32_t>(type), 0);
        content = builder.EndTable(start);
    }
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_content(content);
    tamsu_ipc::ProtocolVersion version(6, 1, 2);
    root.add_version(&version);
    root.add_content_type(tag);
    builder.Finish(root.Finish(), "0007");
    return Bytes(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
}

TEST(MessageTest, SimpleMessagesCarryTheirFieldsAndVersionAndCutTextAtItsFirstNul)
{
    const Message request(MessageType::GET_STATISTICS, "", 0, "");
    const Message reply(MessageType::REQUEST_FAILED, std::string("x\0y", 3), 42,
                        std::string("a\0bc", 4));

    const auto* data = request.get_message_data();
    EXPECT_EQ(data->connection_id(), nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(data->content_as_SimpleRequestData()->type()), 3u);
    EXPECT_EQ(data->content_as_SimpleRequestData()->text(), nullptr);
    const auto* replied = reply.get_message_data();
    EXPECT_EQ(replied->content_as_SimpleReplyData()->text()->str(), "a");
    EXPECT_EQ(replied->content_as_SimpleReplyData()->value(), 42u);
    EXPECT_EQ(replied->connection_id()->str(), std::string("x\0y", 3));
}

TEST(MessageTest, SimpleConstructorBuildsEveryRequestAndReplyTypeAndRefusesTheRestByName)
{
    // UNSET, INVALID_PROTOCOL, the statistics, configs and block messages, one past the end.
    const std::vector<std::uint32_t> not_simple{0, 1, 15, 18, 22, 24, 28, 31, 41};
    std::set<std::string> names;
    for (std::uint32_t value = 0; value <= 41; ++value) {
        const auto type = static_cast<MessageType>(value);
        SCOPED_TRACE(message_type_as_string(type));
        names.insert(message_type_as_string(type));
        if (std::find(not_simple.begin(), not_simple.end(), value) != not_simple.end()) {
            EXPECT_EQ(tamsu_test::exception_text<std::runtime_error>(
                              [&] { Message(type, "", 0, ""); }),
                      "Invalid MessageType for simple message constructor.");
        } else {
            // The type must also survive the trip through the receiving side.
            EXPECT_EQ(received(message_bytes(Message(type, "id", 1, "t"))).get_type(), type);
        }
    }
    // Names are distinct over the whole enumeration and unknown past it.
    EXPECT_EQ(names.size(), 42u);
    EXPECT_EQ(message_type_as_string(static_cast<MessageType>(41)), "<unknown>");
    EXPECT_EQ(current_version_as_string(), "7.0.0");
}

TEST(MessageTest, TruncatedBuffersNeverReadOutsideTheirBytesAndRejectedOnesAreLeftUntouched)
{
    const Bytes full = message_bytes(Message(MessageType::CONNECT, "id", 2, "config=x;"));
    for (std::size_t size = 0; size < full.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes bytes(full.begin(), full.begin() + size);
        zmq::message_t zmq_message(bytes.data(), bytes.size());

        const Message message(zmq_message);

        // Cutting only trailing padding leaves a readable message; anything else is rejected.
        if (message.empty()) {
            EXPECT_EQ(message.get_type(), MessageType::UNSET);
            EXPECT_EQ(zmq_message.size(), size);
            EXPECT_EQ(message.get_protocol_version().major(), 0u);
        } else {
            EXPECT_EQ(message.get_type(), MessageType::CONNECT);
            EXPECT_EQ(message.get_message_data()->content_as_SimpleRequestData()->text()->str(),
                      "config=x;");
        }
    }
}

TEST(MessageTest, ReceivedBufferAtAnOddAddressIsClassifiedAndTakenOver)
{
    const auto bytes = message_bytes(Message(MessageType::NONE_PENDING, "id", 1, ""));
    Bytes storage(bytes.size() + 1);
    std::memcpy(storage.data() + 1, bytes.data(), bytes.size());
    zmq::message_t zmq_message(storage.data() + 1, bytes.size(), nullptr, nullptr);

    const Message message(zmq_message);

    EXPECT_EQ(message.get_type(), MessageType::NONE_PENDING);
    EXPECT_EQ(message.get_message_data()->content_as_SimpleReplyData()->value(), 1u);
    EXPECT_EQ(message.get_protocol_version().major(), 7u);
    EXPECT_EQ(zmq_message.size(), 0u);
}

TEST(MessageTest, ACopySharesTheBytesAndKeepsThemAfterTheOriginalIsSentAndGone)
{
    auto original =
            std::make_unique<Message>(MessageType::LOAD_CONFIG, "id", 3, std::string(200, 'c'));
    const Message copy = original->copy();
    EXPECT_EQ(copy.get_message_data(), original->get_message_data());

    zmq::message_t sent;
    original->transfer_to_zmq(sent);
    original.reset();
    sent.rebuild();

    EXPECT_EQ(copy.get_type(), MessageType::LOAD_CONFIG);
    EXPECT_EQ(copy.get_message_data()->content_as_SimpleRequestData()->text()->str(),
              std::string(200, 'c'));
}

TEST(MessageTest, ContentTagsAndEnumerationValuesMapAsTheProtocolDefines)
{
    const std::vector<std::tuple<MessageContent, std::int64_t, MessageType>> cases{
            {MessageContent::SimpleReplyData, 17, MessageType::REQUEST_FAILED},
            {MessageContent::SimpleReplyData, 18, MessageType::UNSET},
            {MessageContent::SimpleRequestData, 14, MessageType::GET_STATE},
            {MessageContent::SimpleRequestData, 15, MessageType::UNSET},
            {MessageContent::ReadBlockData, 3, MessageType::RETURN_NEXT_CALLED_BLOCK},
            {MessageContent::ReadBlockData, 4, MessageType::UNSET},
            // Absent type fields take the enumeration's first member.
            {MessageContent::SimpleReplyData, 0, MessageType::CONNECTED},
            {MessageContent::SimpleRequestData, 0, MessageType::CONNECT},
            {MessageContent::ReadBlockData, 0, MessageType::PASS_FIRST_RAW_BLOCK},
            {MessageContent::SimpleReplyData, k_no_table, MessageType::UNSET},
            {MessageContent::NONE, k_no_table, MessageType::UNSET},
            {static_cast<MessageContent>(6), k_no_table, MessageType::UNSET},
            {MessageContent::ConfigListData, 0, MessageType::RETURN_CONFIGS},
            {MessageContent::ServerStats, 0, MessageType::RETURN_STATISTICS},
    };
    for (const auto& [tag, type, expected] : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(tag)) + " " + std::to_string(type));
        EXPECT_EQ(received(envelope(tag, type)).get_type(), expected);
    }
    const auto version =
            received(envelope(MessageContent::SimpleReplyData, 16)).get_protocol_version();
    EXPECT_EQ(version.major() * 100 + version.minor() * 10 + version.patch(), 612u);
}

}  // namespace
}  // namespace ipc_tools
