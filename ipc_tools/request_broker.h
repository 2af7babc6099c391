#pragma once

#include "common/tracing/trace.h"
#include "ipc_tools/curve_keys.h"
#include "ipc_tools/handshake_monitor.h"
#include "ipc_tools/message.h"

#include <zmq.hpp>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>

namespace ipc_tools {

// The server answered BAD_REQUEST.
class BadRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The server's reply could not be read.
class BadReply : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// No usable reply in time, or the server no longer recognises the client.
class TimeoutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A reply of a type the request does not allow.
class InvalidResponse : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The connection's handshakes fail: the server refused this client's key, or its key or security
// mechanism does not match this client's. Retrying will not help.
class HandshakeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "num events: N. zmq::pollitem_t: socket[...], fd[...], events[...], revents[...]"
std::string poll_result_as_string(int result, zmq_pollitem_t item);

// The client's one network endpoint: a ZeroMQ REQ socket with one request outstanding at a
// time. Used by one thread at a time, except request_stop; it never reconnects by itself (see
// reset).
class RequestBroker : private common::tracing::TraceDomain<RequestBroker> {
public:
    // Creates the ZeroMQ context (one I/O thread); no socket yet. Throws zmq::error_t.
    RequestBroker();
    ~RequestBroker() override;
    RequestBroker(const RequestBroker&) = delete;
    RequestBroker& operator=(const RequestBroker&) = delete;

    // "ipc://..." unchanged, "host:port" -> "tcp://host:port", a bare port -> tcp on localhost.
    static std::string generate_server_address(std::string address);

    // Stores the endpoint, the per-wait time-out (ms) and the transport security, then opens a
    // fresh socket (reset). Throws std::invalid_argument for keys that are set but malformed.
    void prepare_connection(const std::string& address, unsigned int timeout,
                            const CurveKeys& keys = {});

    // Replaces the socket by a new one, with the stored keys, connected to the stored endpoint, in
    // a new context once there was a socket: closing a socket only hands it to the context's
    // reaper, and ending the context is what waits until its descriptors are released. A REQ socket
    // whose request got no reply cannot send again until this is called. Throws zmq::error_t.
    void reset();

    // Sends `request` (consumed) and waits for its reply, at most four time-outs (after a stop,
    // at most the stop grace). Throws TimeoutError, BadReply, BadRequest, zmq::error_t or
    // std::system_error, or HandshakeError instead of TimeoutError when the handshakes with the
    // server failed; after a BAD_REQUEST or CLIENT_NOT_RECOGNISED reply, `reply` holds that
    // reply.
    void send_request(Message& request, Message& reply);

    // Any thread, for good: the wait in progress and every later one end k_stop_grace after
    // the stop is seen, as if they had timed out, unless the reply comes first. A server that
    // answers still completes the exchange in hand and a farewell; a silent one costs little.
    void request_stop();
    static constexpr std::chrono::milliseconds k_stop_grace{200};

    // Sends HEARTBEAT_PING when nothing was sent for a second; throws InvalidResponse when the
    // server answers anything but HEARTBEAT_ECHO, and whatever send_request throws.
    void ping_server_if_quiet(const std::string& connection_id);
    // How long until ping_server_if_quiet would ping: an idle caller may sleep that long.
    std::chrono::steady_clock::duration time_until_ping() const;

    // Takes over the received reply to request `name` and judges it as send_request does:
    // throws BadReply for an unreadable buffer, BadRequest for BAD_REQUEST and TimeoutError for
    // CLIENT_NOT_RECOGNISED (setting `reply` first in those two cases).
    static void accept_reply(const std::string& name, zmq::message_t& received, Message& reply);

private:
    void send(zmq::message_t& out);
    // Receives the reply into `in` within four waits (see send_request).
    void wait_for_reply(const std::string& name, zmq::message_t& in);
    // One wait of the time-out, received in short slices so that a stop is noticed; true once
    // the reply is in `in`.
    bool wait_once(zmq::message_t& in);
    // One blocking receive of at most `slice`; false when nothing came (or a signal came).
    bool receive_within(std::chrono::milliseconds slice, zmq::message_t& in);
    // Throws HandshakeError when the handshakes with the server are failing.
    void check_handshake(const std::string& name);
    // Reads away any further parts of `in`, then judges it (accept_reply).
    void fetch_and_validate_reply(const std::string& name, zmq::message_t& in, Message& reply);

    zmq::context_t m_context;
    HandshakeMonitor m_handshakes{m_context};
    zmq::socket_t m_socket;
    std::string m_server_address;
    CurveKeys m_keys;
    unsigned int m_timeout = 0;
    std::chrono::steady_clock::time_point m_last_contact;
    std::atomic<bool> m_stop_requested{false};
};

}  // namespace ipc_tools
