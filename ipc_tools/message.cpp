#include "ipc_tools/message.h"

#include "common/contract.h"
#include "ipc_tools/protocol_version.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace ipc_tools {

namespace {

using T = MessageType;

// Schema enumeration value -> MessageType, indexed by the schema value.
constexpr std::array<MessageType, 15> k_request_types{T::CONNECT,
                                                      T::DISCONNECT,
                                                      T::TERMINATE,
                                                      T::GET_STATISTICS,
                                                      T::LOAD_CONFIG,
                                                      T::GET_CONFIGS,
                                                      T::GET_FIRST_CALLED_BLOCK,
                                                      T::GET_NEXT_CALLED_BLOCK,
                                                      T::LOAD_INDEX,
                                                      T::GET_INDICES,
                                                      T::LOAD_BED,
                                                      T::GET_BARCODE_KITS,
                                                      T::GET_LAMP_KITS,
                                                      T::HEARTBEAT_PING,
                                                      T::GET_STATE};

constexpr std::array<MessageType, 18> k_reply_types{T::CONNECTED,
                                                    T::DISCONNECTED,
                                                    T::SHUTTING_DOWN,
                                                    T::INVALID_CONFIG,
                                                    T::INVALID_BARCODE_KIT,
                                                    T::CLIENT_NOT_RECOGNISED,
                                                    T::RAW_BLOCK_ACCEPTED,
                                                    T::NOT_READY,
                                                    T::NONE_PENDING,
                                                    T::BAD_REQUEST,
                                                    T::INVALID_INDEX,
                                                    T::INVALID_BED,
                                                    T::INDEX_NO_SEQ,
                                                    T::HEARTBEAT_ECHO,
                                                    T::RETURN_STATE,
                                                    T::LOADING,
                                                    T::SUCCESS,
                                                    T::REQUEST_FAILED};

constexpr std::array<MessageType, 4> k_read_block_types{
        T::PASS_FIRST_RAW_BLOCK, T::PASS_NEXT_RAW_BLOCK, T::RETURN_FIRST_CALLED_BLOCK,
        T::RETURN_NEXT_CALLED_BLOCK};

template <std::size_t N, typename SchemaEnum>
MessageType lookup(const std::array<MessageType, N>& table, SchemaEnum value)
{
    const auto index = static_cast<std::size_t>(value);
    return index < N ? table[index] : MessageType::UNSET;
}

// The schema value of `type` within `table`, or N when it is not a member.
template <std::size_t N>
std::size_t schema_value(const std::array<MessageType, N>& table, MessageType type)
{
    return static_cast<std::size_t>(std::find(table.begin(), table.end(), type) - table.begin());
}

constexpr std::size_t k_header_size = 8;  // root offset plus file identifier

// Received buffers come from the peer and are checked, alignment included, before anything
// reads them.
bool verify_received(const void* data, std::size_t size)
{
    flatbuffers::Verifier verifier(static_cast<const std::uint8_t*>(data), size);
    return verifier.VerifyBuffer<tamsu_ipc::MessageData>(k_file_identifier);
}

// The strictest alignment of any scalar in the schema (the 64-bit statistics counters).
constexpr std::uintptr_t k_buffer_alignment = 8;

bool is_aligned(const void* data)
{
    return reinterpret_cast<std::uintptr_t>(data) % k_buffer_alignment == 0;
}

}  // namespace

Message::Message(MessageType type, const std::string& connection_id, unsigned int value,
                 const std::string& text)
{
    const auto request = schema_value(k_request_types, type);
    const auto reply = schema_value(k_reply_types, type);
    if (request == k_request_types.size() && reply == k_reply_types.size()) {
        throw std::runtime_error("Invalid MessageType for simple message constructor.");
    }

    flatbuffers::FlatBufferBuilder builder(256, nullptr, false, 8);
    flatbuffers::Offset<flatbuffers::String> text_offset;
    if (!text.empty()) {
        text_offset = builder.CreateString(text.c_str());
    }
    flatbuffers::Offset<void> content;
    tamsu_ipc::MessageContent content_type;
    if (request != k_request_types.size()) {
        content = tamsu_ipc::CreateSimpleRequestData(
                          builder, static_cast<tamsu_ipc::SimpleRequestType>(request), value,
                          text_offset)
                          .Union();
        content_type = tamsu_ipc::MessageContent::SimpleRequestData;
    } else {
        content = tamsu_ipc::CreateSimpleReplyData(builder,
                                                   static_cast<tamsu_ipc::SimpleReplyType>(reply),
                                                   value, text_offset)
                          .Union();
        content_type = tamsu_ipc::MessageContent::SimpleReplyData;
    }
    flatbuffers::Offset<flatbuffers::String> id_offset;
    if (!connection_id.empty()) {
        id_offset = builder.CreateString(connection_id);
    }

    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_content(content);
    if (!id_offset.IsNull()) {
        root.add_connection_id(id_offset);
    }
    root.add_version(&current_protocol_version());
    root.add_content_type(content_type);
    builder.Finish(root.Finish(), k_file_identifier);

    take_builder_buffer(builder);
}

Message::Message(flatbuffers::FlatBufferBuilder& builder) noexcept
{
    take_builder_buffer(builder);
}

void Message::take_builder_buffer(flatbuffers::FlatBufferBuilder& builder) noexcept
{
    try {
        auto holder = std::make_unique<flatbuffers::DetachedBuffer>(builder.Release());
        auto message = std::make_unique<zmq::message_t>(
                holder->data(), holder->size(), &Message::free_builder_buffer, holder.get());
        // ZeroMQ owns the buffer from here and frees it through free_builder_buffer.
        const auto* buffer = holder.release()->data();
        m_type = check_message_type(flatbuffers::GetRoot<tamsu_ipc::MessageData>(buffer));
        m_message = std::move(message);
    } catch (...) {
        m_type = MessageType::UNSET;
        m_message.reset();
    }
}

void Message::free_builder_buffer(void* /*data*/, void* hint) noexcept
{
    std::unique_ptr<flatbuffers::DetachedBuffer> holder(
            static_cast<flatbuffers::DetachedBuffer*>(hint));
}

Message::Message(zmq::message_t& received)
{
    const auto* data = static_cast<const char*>(received.data());
    const auto size = received.size();
    if (data == nullptr || size < k_header_size) {
        return;
    }
    if (std::memcmp(data + 4, k_file_identifier, 4) != 0) {
        m_type = MessageType::INVALID_PROTOCOL;
        return;
    }
    // FlatBuffers readers need scalars at their natural alignment. ZeroMQ hands out messages
    // smaller than its receive batch (8 KiB) at any offset inside the batch; those few bytes are
    // copied. Larger messages arrive in an allocation of their own and are moved.
    const bool aligned = is_aligned(data);
    auto message = aligned ? std::make_unique<zmq::message_t>()
                           : std::make_unique<zmq::message_t>(data, size);
    const void* readable = aligned ? data : message->data();
    if (!verify_received(readable, size)) {
        return;
    }
    m_type = check_message_type(flatbuffers::GetRoot<tamsu_ipc::MessageData>(readable));
    if (aligned) {
        message->move(received);
    } else {
        received.rebuild();
    }
    m_message = std::move(message);
}

Message::Message(Message&& other) noexcept
        : m_type(std::exchange(other.m_type, MessageType::UNSET))
        , m_message(std::move(other.m_message))
{
}

Message& Message::operator=(Message&& other) noexcept
{
    if (this != &other) {
        m_type = std::exchange(other.m_type, MessageType::UNSET);
        m_message = std::move(other.m_message);
    }
    return *this;
}

Message Message::copy() const
{
    Message result;
    result.m_type = m_type;
    if (m_message && m_message->size() > 0) {
        result.m_message = std::make_unique<zmq::message_t>();
        result.m_message->copy(*m_message);
    }
    return result;
}

const tamsu_ipc::MessageData* Message::get_message_data() const
{
    common::contract::expects(!empty(), "get_message_data requires a message buffer");
    return flatbuffers::GetRoot<tamsu_ipc::MessageData>(m_message->data());
}

void Message::transfer_to_zmq(zmq::message_t& out)
{
    if (!m_message) {
        out.rebuild();
        return;
    }
    out.move(*m_message);
    m_message.reset();
    m_type = MessageType::UNSET;
}

tamsu_ipc::ProtocolVersion Message::get_protocol_version() const
{
    if (empty() || m_type == MessageType::UNSET || m_type == MessageType::INVALID_PROTOCOL) {
        return {};
    }
    const auto* version = get_message_data()->version();
    return version ? *version : tamsu_ipc::ProtocolVersion();
}

MessageType Message::check_message_type(const tamsu_ipc::MessageData* data)
{
    if (data == nullptr) {
        return MessageType::UNSET;
    }
    using Content = tamsu_ipc::MessageContent;
    switch (data->content_type()) {
    case Content::SimpleRequestData:
        return simple_request_type(data->content_as_SimpleRequestData());
    case Content::SimpleReplyData:
        return simple_reply_type(data->content_as_SimpleReplyData());
    case Content::ReadBlockData:
        return read_block_type(data->content_as_ReadBlockData());
    case Content::ConfigListData:
        return MessageType::RETURN_CONFIGS;
    case Content::ServerStats:
        return MessageType::RETURN_STATISTICS;
    default:
        return MessageType::UNSET;
    }
}

MessageType Message::simple_request_type(const tamsu_ipc::SimpleRequestData* data)
{
    return data ? lookup(k_request_types, data->type()) : MessageType::UNSET;
}

MessageType Message::simple_reply_type(const tamsu_ipc::SimpleReplyData* data)
{
    return data ? lookup(k_reply_types, data->type()) : MessageType::UNSET;
}

MessageType Message::read_block_type(const tamsu_ipc::ReadBlockData* data)
{
    return data ? lookup(k_read_block_types, data->type()) : MessageType::UNSET;
}

}  // namespace ipc_tools
