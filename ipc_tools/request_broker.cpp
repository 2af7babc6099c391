#include "ipc_tools/request_broker.h"

#include "common/contract.h"
#include "common/logger.h"

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <system_error>

TAMSU_HFTRACE_DOMAIN(ipc_tools, RequestBroker)

namespace ipc_tools {

namespace {

using FrequentTrace = common::tracing::TraceDomainHelper<hftrace::ipc_tools::RequestBroker>;

using Clock = std::chrono::steady_clock;

// Retries after the first wait for a reply; four waits in all.
constexpr int k_wait_retries = 3;
constexpr auto k_heartbeat_interval = std::chrono::nanoseconds(999'999'999);
// The longest single receive within a wait: how late a stop may be noticed.
constexpr auto k_wait_slice = std::chrono::milliseconds(50);
// Sockets a context may hold (the ZeroMQ default).
constexpr int k_max_sockets = 1024;

std::string to_string_zmq_error(int error)
{
    return "errno[" + std::to_string(error) + "] : " + zmq_strerror(error);
}

}  // namespace

std::string poll_result_as_string(int result, zmq_pollitem_t item)
{
    std::ostringstream text;
    text << "num events: " << result << ". "
         << "zmq::pollitem_t: socket[" << item.socket << "], "
         << "fd[" << item.fd << "], "
         << "events[" << item.events << "], "
         << "revents[" << item.revents << "]";
    return text.str();
}

RequestBroker::RequestBroker()
        : m_context(1, k_max_sockets)
{
}

// Members close the socket first, then destroy the context (retrying on EINTR).
RequestBroker::~RequestBroker() = default;

std::string RequestBroker::generate_server_address(std::string address)
{
    if (address.size() > 5 && address.compare(0, 6, "ipc://") == 0) {
        return address;
    }
    if (address.find(':') != std::string::npos) {
        return "tcp://" + address;
    }
    return "tcp://localhost:" + address;
}

void RequestBroker::prepare_connection(const std::string& address, unsigned int timeout,
                                       const CurveKeys& keys)
{
    if (keys.enabled()) {
        keys.check();
    }
    m_server_address = generate_server_address(address);
    m_timeout = timeout;
    m_keys = keys;
    reset();
}

void RequestBroker::reset()
{
    if (m_socket) {
        // Reconnecting faster than the reaper frees closed sockets would run out of
        // descriptors; ending the old context waits for it (quick, the socket does not linger).
        // Every socket of the old context must be closed by now, or ending it would block.
        m_handshakes.unwatch();
        m_socket.close();
        m_context = zmq::context_t(1, k_max_sockets);
    }
    zmq::socket_t socket(m_context, zmq::socket_type::req);
    m_socket = std::move(socket);
    m_socket.set(zmq::sockopt::linger, 0);
    if (m_keys.enabled()) {
        m_socket.set(zmq::sockopt::curve_serverkey, m_keys.server_public_key);
        m_socket.set(zmq::sockopt::curve_publickey, m_keys.client_public_key);
        m_socket.set(zmq::sockopt::curve_secretkey, m_keys.client_secret_key);
    }
    m_handshakes.watch(m_socket, m_keys.enabled());
    m_socket.connect(m_server_address);
}

void RequestBroker::send_request(Message& request, Message& reply)
{
    common::contract::expects(static_cast<bool>(m_socket), "null socket");
    common::contract::expects(!request.empty(), "invalid request");
    const auto name = message_type_as_string(request.get_type());
    FrequentTrace::write_trace("send_request", name);

    zmq::message_t out;
    request.transfer_to_zmq(out);
    m_last_contact = std::chrono::steady_clock::now();
    send(out);
    zmq::message_t in;
    wait_for_reply(name, in);
    fetch_and_validate_reply(name, in, reply);
}

void RequestBroker::send(zmq::message_t& out)
{
    while (zmq_msg_send(out.handle(), m_socket.handle(), 0) == -1) {
        const int error = zmq_errno();
        if (error == EINTR) {
            continue;
        }
        if (error != EAGAIN) {
            throw zmq::error_t();
        }
        write_trace("send_request", "Client zmq_msg_send failed. " + to_string_zmq_error(error));
        throw std::system_error(error, std::system_category(), "Client zmq_msg_send failed");
    }
}

void RequestBroker::request_stop()
{
    m_stop_requested = true;
}

void RequestBroker::wait_for_reply(const std::string& name, zmq::message_t& in)
{
    for (int wait = 0;; ++wait) {
        if (wait_once(in)) {
            return;
        }
        // A wait ended without a reply. After a stop, no further wait.
        check_handshake(name);
        if (wait == k_wait_retries || m_stop_requested) {
            write_trace("send_request", "Timeout waiting for reply to request: " + name);
            throw TimeoutError("Timeout waiting for reply to request: " + name);
        }
    }
}

bool RequestBroker::wait_once(zmq::message_t& in)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(m_timeout);
    bool stop_seen = false;
    bool replied = false;
    while (true) {
        if (!stop_seen && m_stop_requested) {
            stop_seen = true;
            deadline = std::min(deadline, Clock::now() + k_stop_grace);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const auto slice = std::max(std::chrono::milliseconds(0), std::min(left, k_wait_slice));
        replied = receive_within(slice, in);
        if (replied || Clock::now() >= deadline) {
            break;
        }
    }
    // Told as a poll of the socket would tell it: one event when the reply came, else none.
    FrequentTrace::write_trace("send_request", [&] {
        const short events = replied ? ZMQ_POLLIN : 0;
        return poll_result_as_string(replied ? 1 : 0, {m_socket.handle(), 0, ZMQ_POLLIN, events});
    });
    return replied;
}

bool RequestBroker::receive_within(std::chrono::milliseconds slice, zmq::message_t& in)
{
    m_socket.set(zmq::sockopt::rcvtimeo, static_cast<int>(slice.count()));
    if (zmq_msg_recv(in.handle(), m_socket.handle(), 0) != -1) {
        return true;
    }
    const int error = zmq_errno();
    if (error == EAGAIN || error == EINTR) {
        return false;
    }
    write_trace("send_request", "zmq::poll exception. " + to_string_zmq_error(error));
    throw zmq::error_t();
}

// Read only once a wait ended without a reply, so replies that arrive cost nothing here.
void RequestBroker::check_handshake(const std::string& name)
{
    const auto failure = m_handshakes.failure();
    if (failure.empty()) {
        return;
    }
    write_trace("send_request", "Handshake failed waiting for reply to request: " + name);
    TAMSU_LOG(warning, failure);
    throw HandshakeError(failure);
}

void RequestBroker::fetch_and_validate_reply(const std::string& name, zmq::message_t& in,
                                             Message& reply)
{
    const auto trace = create_trace("fetch_and_validate_reply");
    // A reply in several parts is not one of ours; the rest is read away so that the socket
    // can send again, and the first part is judged like any other reply.
    for (bool more = in.more(); more;) {
        zmq::message_t rest;
        if (zmq_msg_recv(rest.handle(), m_socket.handle(), ZMQ_DONTWAIT) == -1) {
            break;
        }
        more = rest.more();
    }
    accept_reply(name, in, reply);
}

void RequestBroker::accept_reply(const std::string& name, zmq::message_t& received, Message& reply)
{
    const auto trace = create_trace("accept_reply");
    try {
        reply = Message(received);
    } catch (const std::exception& error) {
        write_trace("accept_reply", error.what());
        throw BadReply("Error parsing reply from server for request: " + name + ". " +
                       error.what());
    }
    const auto reply_name = message_type_as_string(reply.get_type());
    FrequentTrace::write_trace("accept_reply", reply_name);

    switch (reply.get_type()) {
    case MessageType::CLIENT_NOT_RECOGNISED: {
        const std::string text =
                "Received CLIENT_NOT_RECOGNISED from server. Treating as a server restart.";
        trace.message(text);
        TAMSU_LOG(info, text);
        throw TimeoutError(text);
    }
    case MessageType::UNSET:
    case MessageType::INVALID_PROTOCOL: {
        const auto text = "Could not interpret message from server for request: " + name +
                          ". Reply: " + reply_name;
        trace.message(text);
        throw BadReply(text);
    }
    case MessageType::BAD_REQUEST: {
        const auto* content = reply.get_message_data()->content_as_SimpleReplyData();
        const auto* reason = content ? content->text() : nullptr;
        const auto text = "Bad request message: " + name + ". " + (reason ? reason->str() : "");
        trace.message(text);
        throw BadRequest(text);
    }
    default:
        return;
    }
}

std::chrono::steady_clock::duration RequestBroker::time_until_ping() const
{
    // A ping goes once the quiet time exceeds the interval, so one tick past it.
    const auto due = m_last_contact + k_heartbeat_interval + std::chrono::nanoseconds(1);
    return due - std::chrono::steady_clock::now();
}

void RequestBroker::ping_server_if_quiet(const std::string& connection_id)
{
    if (std::chrono::steady_clock::now() - m_last_contact <= k_heartbeat_interval) {
        return;
    }
    Message request(MessageType::HEARTBEAT_PING, connection_id, 0, "");
    Message reply;
    send_request(request, reply);
    if (reply.get_type() != MessageType::HEARTBEAT_ECHO) {
        const auto name = message_type_as_string(reply.get_type());
        write_trace("ping_server_if_quiet", "invalid response: " + name);
        throw InvalidResponse("invalid response from server, expected: HEARTBEAT_ECHO, received: " +
                              name);
    }
}

}  // namespace ipc_tools
