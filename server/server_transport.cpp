#include "server/server_transport.h"

#include "common/logger.h"
#include "server/bind_address.h"
#include "server/server_reply.h"
#include "vask/util/set_thread_name.h"

#include <chrono>
#include <mutex>

namespace reference_server {

using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

// How often idle clients are looked for; they expire at most this late.
constexpr auto k_expiry_interval = std::chrono::milliseconds(250);

// Under CURVE every message names the client key that sent it (see ZapHandler).
std::string sender_key(const zmq::message_t& frame)
{
    const char* key = zmq_msg_gets(frame.handle(), "User-Id");
    return key != nullptr ? key : "";
}

}  // namespace

ServerTransport::ServerTransport(const ServerOptions& options, ServerState& state)
        : m_state(state)
{
    m_socket.set(zmq::sockopt::linger, 0);
    enable_curve(options.curve);
    // Larger messages are refused by ZeroMQ as they arrive, before anything is allocated for
    // them, and their sender is disconnected.
    m_socket.set(zmq::sockopt::maxmsgsize, static_cast<std::int64_t>(k_max_message_bytes));
    const auto endpoint = to_bind_endpoint(options.address, options.bind_all);
    check_ipc_path_unclaimed(endpoint);
    m_socket.bind(endpoint);
    m_endpoint = m_socket.get(zmq::sockopt::last_endpoint);
}

void ServerTransport::enable_curve(const CurveServerSettings& curve)
{
    if (curve.secret_key.empty()) {
        return;
    }
    // Run whenever CURVE is on, also without an allow list: it names the sender of every message.
    m_zap = std::make_unique<ZapHandler>(m_context, curve.allowed_client_keys);
    m_socket.set(zmq::sockopt::curve_server, true);
    m_socket.set(zmq::sockopt::curve_secretkey, curve.secret_key);
}

void ServerTransport::start(RequestDispatcher& dispatcher)
{
    m_thread = std::thread([this, &dispatcher] { serve(dispatcher); });
}

void ServerTransport::stop()
{
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_socket.close();
}

void ServerTransport::serve(RequestDispatcher& dispatcher)
{
    vask::util::set_thread_name("toy_server");
    // A blocking receive costs fewer system calls per request than polling first; the short
    // time-out is what lets stop() be noticed promptly.
    m_socket.set(zmq::sockopt::rcvtimeo, 50);
    auto next_expiry = std::chrono::steady_clock::now() + k_expiry_interval;
    while (!m_stop) {
        try {
            receive_one(dispatcher);
        } catch (const std::exception& error) {
            TAMSU_LOG(error, "basecall server: " << error.what());
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= next_expiry) {
            dispatcher.expire_idle_clients(now);
            next_expiry = now + k_expiry_interval;
        }
    }
}

bool ServerTransport::receive_frames()
{
    m_frames.clear();
    m_frames.emplace_back();
    if (!m_socket.recv(m_frames.back())) {
        return false;
    }
    // The rest of a multipart message arrives with its first part.
    while (m_frames.back().more()) {
        m_frames.emplace_back();
        if (!m_socket.recv(m_frames.back(), zmq::recv_flags::dontwait)) {
            m_frames.pop_back();
            break;
        }
    }
    return true;
}

void ServerTransport::receive_one(RequestDispatcher& dispatcher)
{
    if (!receive_frames()) {
        return;
    }
    // A REQ peer sends [identity, "", payload]; a DEALER may leave out the empty delimiter.
    std::size_t payload_start = 1;
    for (std::size_t i = 1; i < m_frames.size(); ++i) {
        if (m_frames[i].size() == 0) {
            payload_start = i + 1;
            break;
        }
    }
    if (m_zap) {
        m_request_key = sender_key(m_frames.back());
    }
    if (stay_silent()) {
        return;
    }
    boost::optional<Message> answer;
    if (m_frames.size() != payload_start + 1) {
        answer = reply(MessageType::BAD_REQUEST, 0,
                       "Expected exactly one message frame after the envelope");
    } else {
        answer = dispatcher.handle(m_frames.back(), m_request_key);
    }
    if (answer) {
        send_reply(payload_start, *answer);
    }
}

void ServerTransport::send_reply(std::size_t payload_start, Message& answer)
{
    for (std::size_t i = 0; i < payload_start && i < m_frames.size(); ++i) {
        m_socket.send(m_frames[i], zmq::send_flags::sndmore);
    }
    zmq::message_t out;
    answer.transfer_to_zmq(out);
    m_socket.send(out, zmq::send_flags::none);
}

bool ServerTransport::stay_silent()
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    ++m_state.requests_received;
    auto& faults = m_state.faults;
    if (faults.silent) {
        return true;
    }
    if (faults.silent_requests > 0) {
        --faults.silent_requests;
        return true;
    }
    return false;
}

}  // namespace reference_server
