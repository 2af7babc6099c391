#include "ipc_tools/handshake_monitor.h"

#include <cstdint>
#include <cstring>
#include <sstream>

namespace ipc_tools {

namespace {

constexpr int k_handshake_events =
        ZMQ_EVENT_HANDSHAKE_SUCCEEDED | ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL |
        ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL | ZMQ_EVENT_HANDSHAKE_FAILED_AUTH;

// Handshakes cut off in a row before they count as a mismatch rather than a server going away.
constexpr unsigned int k_broken_off_limit = 3;

std::string hex(std::uint32_t value)
{
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

}  // namespace

HandshakeMonitor::HandshakeMonitor(zmq::context_t& context)
        : m_context(context)
{
}

void HandshakeMonitor::watch(zmq::socket_t& socket, bool curve)
{
    // Each socket gets an endpoint of its own: the previous socket's monitor may still be
    // closing in the background.
    const auto endpoint = "inproc://tamsu-handshakes-" + std::to_string(++m_sockets_watched);
    if (zmq_socket_monitor(socket.handle(), endpoint.c_str(), k_handshake_events) != 0) {
        throw zmq::error_t();
    }
    zmq::socket_t events(m_context, zmq::socket_type::pair);
    events.set(zmq::sockopt::linger, 0);
    events.connect(endpoint);
    m_events = std::move(events);
    m_curve = curve;
}

std::string HandshakeMonitor::failure()
{
    // An event is two frames: event number and value, then the peer's endpoint.
    zmq::message_t event;
    zmq::message_t peer;
    while (m_events && m_events.recv(event, zmq::recv_flags::dontwait)) {
        if (!event.more() || !m_events.recv(peer, zmq::recv_flags::dontwait) || event.size() < 6) {
            continue;
        }
        std::uint16_t number = 0;
        std::uint32_t value = 0;
        std::memcpy(&number, event.data(), sizeof number);
        std::memcpy(&value, static_cast<const char*>(event.data()) + 2, sizeof value);
        take_event(number, value);
    }
    if (!m_refusal.empty()) {
        return m_refusal;
    }
    if (m_broken_off < k_broken_off_limit) {
        return {};
    }
    return m_curve ? "The server broke off every CURVE handshake: its public key does not match "
                     "the server key this client was given, or it does not use CURVE"
                   : "The server broke off every handshake: it may require CURVE transport "
                     "security, which this client was not given keys for";
}

void HandshakeMonitor::take_event(std::uint16_t event, std::uint32_t value)
{
    switch (event) {
    case ZMQ_EVENT_HANDSHAKE_SUCCEEDED:
        m_broken_off = 0;
        m_refusal.clear();
        return;
    case ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL:
        ++m_broken_off;
        return;
    case ZMQ_EVENT_HANDSHAKE_FAILED_AUTH:
        m_refusal = m_curve ? "The server refused this client's CURVE key (authentication "
                              "status " +
                                      std::to_string(value) +
                                      "): the key is not among the clients it admits"
                            : "The server refused this client (authentication status " +
                                      std::to_string(value) + ")";
        return;
    case ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL:
        if (value == ZMQ_PROTOCOL_ERROR_ZMTP_MECHANISM_MISMATCH) {
            m_refusal = m_curve ? "The server does not use CURVE transport security, but this "
                                  "client was given CURVE keys"
                                : "The server requires CURVE transport security: this client "
                                  "needs its key and the server's public key";
        } else {
            m_refusal = "The handshake with the server failed: protocol error " + hex(value);
        }
        return;
    default:
        return;
    }
}

}  // namespace ipc_tools
