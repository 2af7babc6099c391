#include "ipc_tools/message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace ipc_tools {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes finished_bytes(const flatbuffers::FlatBufferBuilder& builder)
{
    return Bytes(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
}

// Whether a generated table has the field stored (generated tables hide their Table base).
template <typename GeneratedTable>
bool has_field(const GeneratedTable* table, flatbuffers::voffset_t field)
{
    return reinterpret_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

Bytes message_bytes(const Message& message)
{
    zmq::message_t out;
    message.copy().transfer_to_zmq(out);
    const auto* data = static_cast<const std::uint8_t*>(out.data());
    return Bytes(data, data + out.size());
}

// A message as the peer would send it: any bytes, as ZeroMQ hands them over.
zmq::message_t received(const Bytes& bytes)
{
    return zmq::message_t(bytes.data(), bytes.size());
}

MessageType received_type(const Bytes& bytes)
{
    auto zmq_message = received(bytes);
    return Message(zmq_message).get_type();
}

// Finishes a MessageData whose content is built by `add_content`, as a peer might.
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
    return finished_bytes(builder);
}

Bytes reply_with_raw_type(std::uint32_t type)
{
    return envelope(tamsu_ipc::MessageContent::SimpleReplyData, [&](auto& builder) {
        return tamsu_ipc::CreateSimpleReplyData(builder,
                                                static_cast<tamsu_ipc::SimpleReplyType>(type))
                .Union();
    });
}

Bytes request_with_raw_type(std::uint32_t type)
{
    return envelope(tamsu_ipc::MessageContent::SimpleRequestData, [&](auto& builder) {
        return tamsu_ipc::CreateSimpleRequestData(builder,
                                                  static_cast<tamsu_ipc::SimpleRequestType>(type))
                .Union();
    });
}

Bytes read_block_with_raw_type(std::uint32_t type)
{
    return envelope(tamsu_ipc::MessageContent::ReadBlockData, [&](auto& builder) {
        return tamsu_ipc::CreateReadBlockData(builder, static_cast<tamsu_ipc::ReadBlockType>(type))
                .Union();
    });
}

TEST(MessageTest, SimpleRequestCarriesOnlyItsTypeVersionAndIdentifier)
{
    const Message message(MessageType::GET_STATISTICS, "", 0, "");

    ASSERT_FALSE(message.empty());
    EXPECT_EQ(message.get_type(), MessageType::GET_STATISTICS);
    const auto bytes = message_bytes(message);
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), "0007");
    const auto* data = message.get_message_data();
    EXPECT_FALSE(has_field(data, tamsu_ipc::MessageData::VT_CONNECTION_ID));
    EXPECT_EQ(data->content_type(), tamsu_ipc::MessageContent::SimpleRequestData);
    const auto* request = data->content_as_SimpleRequestData();
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(request->type()), 3u);
    EXPECT_FALSE(has_field(request, tamsu_ipc::SimpleRequestData::VT_VALUE));
    EXPECT_FALSE(has_field(request, tamsu_ipc::SimpleRequestData::VT_TEXT));
    ASSERT_NE(data->version(), nullptr);
    EXPECT_EQ(data->version()->major(), 7u);
    EXPECT_EQ(data->version()->minor(), 0u);
    EXPECT_EQ(data->version()->patch(), 0u);
}

TEST(MessageTest, GivenFieldsAreWrittenAndTextIsCutAtItsFirstNulButConnectionIdIsNot)
{
    const std::string text("a\0bc", 4);
    const std::string connection_id("x\0y", 3);

    const Message message(MessageType::REQUEST_FAILED, connection_id, 42, text);

    const auto* data = message.get_message_data();
    EXPECT_EQ(data->content_as_SimpleReplyData()->text()->str(), "a");
    EXPECT_EQ(data->content_as_SimpleReplyData()->value(), 42u);
    EXPECT_EQ(data->connection_id()->str(), connection_id);
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
                                              static_cast<MessageType>(41),
                                              static_cast<MessageType>(0xffffffffu)};
    int built = 0;
    for (std::uint32_t value = 0; value <= 41; ++value) {
        const auto type = static_cast<MessageType>(value);
        const bool refused =
                std::find(not_simple.begin(), not_simple.end(), type) != not_simple.end();
        SCOPED_TRACE(message_type_as_string(type));
        if (refused) {
            try {
                Message message(type, "", 0, "");
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "Invalid MessageType for simple message constructor.");
            }
        } else {
            const Message message(type, "id", 1, "t");
            EXPECT_EQ(message.get_type(), type);
            // The type must also survive the trip through the receiving side.
            EXPECT_EQ(received_type(message_bytes(message)), type);
            ++built;
        }
    }
    EXPECT_EQ(built, 15 + 18);
}

TEST(MessageTest, ReceivedValidMessageIsTakenOverAndClassified)
{
    const auto bytes = message_bytes(Message(MessageType::RETURN_STATE, "", 0, "{}"));
    auto zmq_message = received(bytes);

    const Message message(zmq_message);

    EXPECT_EQ(message.get_type(), MessageType::RETURN_STATE);
    EXPECT_EQ(zmq_message.size(), 0u);
    EXPECT_EQ(message.get_message_data()->content_as_SimpleReplyData()->text()->str(), "{}");
    const auto version = message.get_protocol_version();
    EXPECT_EQ(version.major(), 7u);
}

TEST(MessageTest, ShortForeignOrUnverifiableBuffersAreRejectedAndLeftUntouched)
{
    struct Case {
        Bytes bytes;
        MessageType type;
    };
    const std::vector<Case> cases{
            {{}, MessageType::UNSET},
            {{0, 0, 0, 0, '0', '0', '0'}, MessageType::UNSET},
            {{0, 0, 0, 0, '0', '0', '0', '6'}, MessageType::INVALID_PROTOCOL},
            {{8, 0, 0, 0, '0', '0', '0', '7'}, MessageType::UNSET},
            {{0, 0, 0, 0, '0', '0', '0', '7'}, MessageType::UNSET},
            {{0xff, 0xff, 0xff, 0x7f, '0', '0', '0', '7', 0, 0, 0, 0}, MessageType::UNSET},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        auto zmq_message = received(c.bytes);

        const Message message(zmq_message);

        EXPECT_EQ(message.get_type(), c.type);
        EXPECT_TRUE(message.empty());
        EXPECT_EQ(zmq_message.size(), c.bytes.size());
        EXPECT_EQ(message.get_protocol_version().major(), 0u);
    }
}

TEST(MessageTest, TruncatedBuffersNeverReadOutsideTheirBytes)
{
    const Bytes full = message_bytes(Message(MessageType::CONNECT, "id", 2, "config=x;"));
    for (std::size_t size = 0; size < full.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
        auto zmq_message = received(cut);

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

TEST(MessageTest, ReceivedBufferAtAnOddAddressIsClassified)
{
    const auto bytes = message_bytes(Message(MessageType::NONE_PENDING, "id", 1, ""));
    Bytes storage(bytes.size() + 1);
    std::memcpy(storage.data() + 1, bytes.data(), bytes.size());
    zmq::message_t zmq_message(storage.data() + 1, bytes.size(), nullptr, nullptr);

    const Message message(zmq_message);

    EXPECT_EQ(message.get_type(), MessageType::NONE_PENDING);
    EXPECT_EQ(message.get_message_data()->content_as_SimpleReplyData()->value(), 1u);
    EXPECT_EQ(zmq_message.size(), 0u);
}

TEST(MessageTest, ContentTagsAndEnumerationValuesMapAsTheProtocolDefines)
{
    using Content = tamsu_ipc::MessageContent;
    const auto no_table = [](auto&) { return flatbuffers::Offset<void>(); };
    const std::vector<std::pair<Bytes, MessageType>> cases{
            {reply_with_raw_type(17), MessageType::REQUEST_FAILED},
            {reply_with_raw_type(18), MessageType::UNSET},
            {request_with_raw_type(14), MessageType::GET_STATE},
            {request_with_raw_type(15), MessageType::UNSET},
            {read_block_with_raw_type(3), MessageType::RETURN_NEXT_CALLED_BLOCK},
            {read_block_with_raw_type(4), MessageType::UNSET},
            // Absent type fields take the enumeration's first member.
            {reply_with_raw_type(0), MessageType::CONNECTED},
            {request_with_raw_type(0), MessageType::CONNECT},
            {read_block_with_raw_type(0), MessageType::PASS_FIRST_RAW_BLOCK},
            {envelope(Content::SimpleReplyData, no_table), MessageType::UNSET},
            {envelope(Content::NONE, no_table), MessageType::UNSET},
            {envelope(static_cast<Content>(6), no_table), MessageType::UNSET},
            {envelope(Content::ConfigListData,
                      [](auto& b) { return tamsu_ipc::CreateConfigListData(b).Union(); }),
             MessageType::RETURN_CONFIGS},
            {envelope(Content::ServerStats,
                      [](auto& b) { return tamsu_ipc::CreateServerStats(b).Union(); }),
             MessageType::RETURN_STATISTICS},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(received_type(cases[i].first), cases[i].second);
    }
}

TEST(MessageTest, ProtocolVersionIsTheSendersOrZeroWhenAbsent)
{
    auto peer = received(reply_with_raw_type(16));
    const Message from_peer(peer);
    const auto version = from_peer.get_protocol_version();
    EXPECT_EQ(version.major(), 6u);
    EXPECT_EQ(version.minor(), 1u);
    EXPECT_EQ(version.patch(), 2u);

    flatbuffers::FlatBufferBuilder builder;
    const auto reply =
            tamsu_ipc::CreateSimpleReplyData(builder, tamsu_ipc::SimpleReplyType::SUCCESS);
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_content(reply.Union());
    root.add_content_type(tamsu_ipc::MessageContent::SimpleReplyData);
    builder.Finish(root.Finish(), "0007");
    const Message without_version(builder);
    EXPECT_EQ(without_version.get_type(), MessageType::SUCCESS);
    EXPECT_EQ(without_version.get_protocol_version().major(), 0u);
}

TEST(MessageTest, MessageDataOfAnEmptyMessageIsAContractViolation)
{
    EXPECT_THROW(Message().get_message_data(), std::logic_error);
}

}  // namespace
}  // namespace ipc_tools
