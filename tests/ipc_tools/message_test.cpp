#include "ipc_tools/message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace ipc_tools {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes message_bytes(const Message& message)
{
    zmq::message_t out;
    message.copy().transfer_to_zmq(out);
    const auto* data = static_cast<const std::uint8_t*>(out.data());
    return Bytes(data, data + out.size());
}

MessageType received_type(const Bytes& bytes)
{
    zmq::message_t zmq_message(bytes.data(), bytes.size());
    return Message(zmq_message).get_type();
}

// A MessageData whose content `add_content` builds, as a peer might send it.
template <typename AddContent>
Bytes envelope(tamsu_ipc::MessageContent tag, AddContent add_content)
{
    flatbuffers::FlatBufferBuilder builder;
    const auto content = add_content(builder);
    tamsu_ipc::MessageDataBuilder root(builder);
    if (!content.IsNull()) {
        root.add_content(content);
    }
    tamsu_ipc::ProtocolVersion version(6, 1, 2);
    root.add_version(&version);
    root.add_content_type(tag);
    builder.Finish(root.Finish(), "0007");
    return Bytes(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
}

template <typename Content, typename Type, typename Create>
Bytes with_raw_type(Create create, std::uint32_t type)
{
    return envelope(tamsu_ipc::MessageContentTraits<Content>::enum_value, [&](auto& builder) {
        return create(builder, static_cast<Type>(type)).Union();
    });
}

TEST(MessageTest, SimpleMessagesCarryTheirFieldsAndVersionAndCutTextAtItsFirstNul)
{
    const Message request(MessageType::GET_STATISTICS, "", 0, "");
    const Message reply(MessageType::REQUEST_FAILED, std::string("x\0y", 3), 42,
                        std::string("a\0bc", 4));

    const auto bytes = message_bytes(request);
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), "0007");
    const auto* data = request.get_message_data();
    EXPECT_EQ(data->connection_id(), nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(data->content_as_SimpleRequestData()->type()), 3u);
    EXPECT_EQ(data->content_as_SimpleRequestData()->text(), nullptr);
    EXPECT_EQ(data->version()->major() * 100 + data->version()->minor() * 10 +
                      data->version()->patch(),
              700u);
    const auto* replied = reply.get_message_data();
    EXPECT_EQ(replied->content_as_SimpleReplyData()->text()->str(), "a");
    EXPECT_EQ(replied->content_as_SimpleReplyData()->value(), 42u);
    EXPECT_EQ(replied->connection_id()->str(), std::string("x\0y", 3));
}

TEST(MessageTest, SimpleConstructorBuildsEveryRequestAndReplyTypeAndRefusesTheRest)
{
    const std::vector<MessageType> not_simple{MessageType::UNSET,
                                              MessageType::INVALID_PROTOCOL,
                                              MessageType::RETURN_STATISTICS,
                                              MessageType::RETURN_CONFIGS,
                                              MessageType::PASS_FIRST_RAW_BLOCK,
                                              MessageType::PASS_NEXT_RAW_BLOCK,
                                              MessageType::RETURN_FIRST_CALLED_BLOCK,
                                              MessageType::RETURN_NEXT_CALLED_BLOCK,
                                              static_cast<MessageType>(41)};
    int built = 0;
    for (std::uint32_t value = 0; value <= 41; ++value) {
        const auto type = static_cast<MessageType>(value);
        SCOPED_TRACE(message_type_as_string(type));
        if (std::find(not_simple.begin(), not_simple.end(), type) != not_simple.end()) {
            try {
                Message message(type, "", 0, "");
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "Invalid MessageType for simple message constructor.");
            }
        } else {
            // The type must also survive the trip through the receiving side.
            EXPECT_EQ(received_type(message_bytes(Message(type, "id", 1, "t"))), type);
            ++built;
        }
    }
    EXPECT_EQ(built, 15 + 18);
}

TEST(MessageTest, ShortForeignOrUnverifiableBuffersAreRejectedAndLeftUntouched)
{
    const std::vector<std::pair<Bytes, MessageType>> cases{
            {{}, MessageType::UNSET},
            {{0, 0, 0, 0, '0', '0', '0'}, MessageType::UNSET},
            {{0, 0, 0, 0, '0', '0', '0', '6'}, MessageType::INVALID_PROTOCOL},
            {{8, 0, 0, 0, '0', '0', '0', '7'}, MessageType::UNSET},
            {{0, 0, 0, 0, '0', '0', '0', '7'}, MessageType::UNSET},
            {{0xff, 0xff, 0xff, 0x7f, '0', '0', '0', '7', 0, 0, 0, 0}, MessageType::UNSET},
    };
    for (const auto& [bytes, type] : cases) {
        SCOPED_TRACE(bytes.size());
        zmq::message_t zmq_message(bytes.data(), bytes.size());

        const Message message(zmq_message);

        EXPECT_EQ(message.get_type(), type);
        EXPECT_TRUE(message.empty());
        EXPECT_EQ(zmq_message.size(), bytes.size());
        EXPECT_EQ(message.get_protocol_version().major(), 0u);
    }
}

TEST(MessageTest, TruncatedBuffersNeverReadOutsideTheirBytes)
{
    const Bytes full = message_bytes(Message(MessageType::CONNECT, "id", 2, "config=x;"));
    for (std::size_t size = 0; size < full.size(); ++size) {
        SCOPED_TRACE(size);
        zmq::message_t zmq_message(full.data(), size);

        const Message message(zmq_message);

        // Cutting only trailing padding leaves a readable message; anything else is rejected.
        if (message.empty()) {
            EXPECT_TRUE(message.get_type() == MessageType::UNSET ||
                        message.get_type() == MessageType::INVALID_PROTOCOL);
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

TEST(MessageTest, ContentTagsAndEnumerationValuesMapAsTheProtocolDefines)
{
    using namespace tamsu_ipc;
    const auto reply = [](std::uint32_t type) {
        return with_raw_type<SimpleReplyData, SimpleReplyType>(
                [](auto& b, auto t) { return CreateSimpleReplyData(b, t); }, type);
    };
    const auto request = [](std::uint32_t type) {
        return with_raw_type<SimpleRequestData, SimpleRequestType>(
                [](auto& b, auto t) { return CreateSimpleRequestData(b, t); }, type);
    };
    const auto block = [](std::uint32_t type) {
        return with_raw_type<ReadBlockData, ReadBlockType>(
                [](auto& b, auto t) { return CreateReadBlockData(b, t); }, type);
    };
    const auto no_table = [](auto&) { return flatbuffers::Offset<void>(); };
    const std::vector<std::pair<Bytes, MessageType>> cases{
            {reply(17), MessageType::REQUEST_FAILED},
            {reply(18), MessageType::UNSET},
            {request(14), MessageType::GET_STATE},
            {request(15), MessageType::UNSET},
            {block(3), MessageType::RETURN_NEXT_CALLED_BLOCK},
            {block(4), MessageType::UNSET},
            // Absent type fields take the enumeration's first member.
            {reply(0), MessageType::CONNECTED},
            {request(0), MessageType::CONNECT},
            {block(0), MessageType::PASS_FIRST_RAW_BLOCK},
            {envelope(MessageContent::SimpleReplyData, no_table), MessageType::UNSET},
            {envelope(MessageContent::NONE, no_table), MessageType::UNSET},
            {envelope(static_cast<MessageContent>(6), no_table), MessageType::UNSET},
            {envelope(MessageContent::ConfigListData,
                      [](auto& b) { return CreateConfigListData(b).Union(); }),
             MessageType::RETURN_CONFIGS},
            {envelope(MessageContent::ServerStats,
                      [](auto& b) { return CreateServerStats(b).Union(); }),
             MessageType::RETURN_STATISTICS},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(received_type(cases[i].first), cases[i].second);
    }
    zmq::message_t from_peer(reply(16).data(), reply(16).size());
    const auto version = Message(from_peer).get_protocol_version();
    EXPECT_EQ(version.major() * 100 + version.minor() * 10 + version.patch(), 612u);
}

}  // namespace
}  // namespace ipc_tools
