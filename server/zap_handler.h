#pragma once

#include <zmq.hpp>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace reference_server {

// Answers ZeroMQ's authentication requests (ZAP, on inproc://zeromq.zap.01) for the CURVE
// sockets of one context, on a thread of its own. Admits the clients whose public key is in the
// allow list, or every client when the list is empty, and names each admitted client by its
// public key (Z85): every message from it then carries that as its "User-Id" property. Must
// exist before the socket it serves accepts connections; stops and joins on destruction.
class ZapHandler {
public:
    // Throws zmq::error_t when the ZAP endpoint cannot be bound (a handler exists already).
    ZapHandler(zmq::context_t& context, std::set<std::string> allowed_keys);
    ~ZapHandler();
    ZapHandler(const ZapHandler&) = delete;
    ZapHandler& operator=(const ZapHandler&) = delete;

private:
    void serve();
    void serve_one();
    // The reply frames after version and request id: status code, status text, user id and
    // metadata.
    std::vector<std::string> answer(const std::vector<zmq::message_t>& request) const;

    zmq::socket_t m_socket;
    const std::set<std::string> m_allowed_keys;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace reference_server
