// Any received buffer, judged as the request broker judges a reply: verification, the message
// type and the broker's verdict. The same bytes at an aligned and a misaligned address must be
// judged alike, and a buffer that passed must pass again as a copy.
#include "fuzz/reply_feed.h"

#include "ipc_tools/request_broker.h"

#include <cstring>

namespace {

using ipc_tools::MessageType;

enum class Verdict { accepted, bad_reply, bad_request, not_recognised };

struct Judgement {
    MessageType type = MessageType::UNSET;
    Verdict verdict = Verdict::accepted;
};

Verdict judge(zmq::message_t& received, ipc_tools::Message& reply)
{
    try {
        ipc_tools::RequestBroker::accept_reply("FUZZ", received, reply);
        return Verdict::accepted;
    } catch (const ipc_tools::BadReply&) {
        return Verdict::bad_reply;
    } catch (const ipc_tools::BadRequest&) {
        return Verdict::bad_request;
    } catch (const ipc_tools::TimeoutError&) {
        return Verdict::not_recognised;
    }
}

MessageType type_of_copy(const ipc_tools::Message& reply)
{
    zmq::message_t bytes;
    reply.copy().transfer_to_zmq(bytes);
    return ipc_tools::Message(bytes).get_type();
}

// ZeroMQ hands out received buffers at any address; `offset` places the bytes.
Judgement receive(const std::uint8_t* data, std::size_t size, std::size_t offset)
{
    std::vector<std::uint64_t> storage(size / sizeof(std::uint64_t) + 2);
    auto* bytes = reinterpret_cast<std::uint8_t*>(storage.data()) + offset;
    std::memcpy(bytes, data, size);
    zmq::message_t received(
            bytes, size, [](void*, void*) {}, nullptr);
    ipc_tools::Message reply;
    const auto verdict = judge(received, reply);
    if (!reply.empty() && verdict == Verdict::accepted) {
        (void)reply.get_protocol_version();
        tamsu_fuzz::require(type_of_copy(reply) == reply.get_type(),
                            "a copy of an accepted reply is judged alike");
    }
    return {reply.get_type(), verdict};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tamsu_fuzz::quiet_logging();
    const auto aligned = receive(data, size, 0);
    const auto misaligned = receive(data, size, 1);
    tamsu_fuzz::require(aligned.type == misaligned.type && aligned.verdict == misaligned.verdict,
                        "a buffer is judged alike at any address");
    return 0;
}
