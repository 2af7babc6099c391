#pragma once

#include "ipc_tools/message_type.h"
#include "ipc_tools/tamsu_ipc_generated.h"

#include <zmq.hpp>

#include <memory>
#include <string>

namespace ipc_tools {

// One wire message, from building to sending or from receiving to reading its last field. Owns
// the bytes as a ZeroMQ message so that neither sending nor receiving copies them. Move-only in
// practice (copy() shares the bytes); not thread-safe, one thread uses a message at a time.
class Message {
public:
    // An empty UNSET message.
    Message() noexcept = default;

    // Builds a complete simple request or reply envelope. `text` is cut at its first NUL and
    // left out when empty; `connection_id` is left out when empty. Throws std::runtime_error
    // for a type that is not carried by a simple request or reply table.
    Message(MessageType type, const std::string& connection_id, unsigned int value,
            const std::string& text);

    // Takes over the finished buffer of `builder` without copying. Never throws: on failure the
    // message is empty and UNSET.
    explicit Message(flatbuffers::FlatBufferBuilder& builder) noexcept;

    // Takes over a received buffer without copying. A buffer that is too short or fails
    // verification gives UNSET, one with a foreign identifier INVALID_PROTOCOL; in those cases
    // `received` is left as it was. Throws zmq::error_t when ZeroMQ fails to move the buffer.
    explicit Message(zmq::message_t& received);

    Message(Message&& other) noexcept;
    Message& operator=(Message&& other) noexcept;
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    ~Message() = default;

    // A second message on the same bytes, which no one writes once built: ZeroMQ counts the
    // holders (atomically, so each may go to another thread) and frees the bytes with the last.
    // Throws zmq::error_t when ZeroMQ fails to copy.
    Message copy() const;

    MessageType get_type() const noexcept { return m_type; }
    bool empty() const noexcept { return !m_message; }

    // The buffer's root table. Requires a non-empty message.
    const tamsu_ipc::MessageData* get_message_data() const;

    // Moves the buffer into `out` for sending and leaves this message empty and UNSET; an empty
    // message produces a zero-length ZeroMQ message. Throws zmq::error_t.
    void transfer_to_zmq(zmq::message_t& out);

    // The sender's protocol version, or 0.0.0 when there is none or the buffer is unreadable.
    tamsu_ipc::ProtocolVersion get_protocol_version() const;

    // Classifies a root table by its content (UNSET for anything unreadable).
    static MessageType check_message_type(const tamsu_ipc::MessageData* data);
    static MessageType simple_request_type(const tamsu_ipc::SimpleRequestData* data);
    static MessageType simple_reply_type(const tamsu_ipc::SimpleReplyData* data);
    static MessageType read_block_type(const tamsu_ipc::ReadBlockData* data);

    // ZeroMQ's free function for builder buffers; `hint` owns the detached buffer.
    static void free_builder_buffer(void* data, void* hint) noexcept;

private:
    void take_builder_buffer(flatbuffers::FlatBufferBuilder& builder) noexcept;

    MessageType m_type = MessageType::UNSET;
    std::unique_ptr<zmq::message_t> m_message;
};

}  // namespace ipc_tools
