#pragma once

#include "server/basecall_server.h"
#include "server/request_dispatcher.h"
#include "server/server_state.h"
#include "server/zap_handler.h"

#include <zmq.hpp>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace reference_server {

// The server's ROUTER socket and the thread that serves it: receives each request, lets the
// fault settings silence it, has it answered and sends the reply, without the state lock. Idle
// clients are looked for between requests. Under CURVE it knows which client key sent each
// request.
class ServerTransport {
public:
    // Binds the address of `options`, with CURVE when it has a secret key. Throws as
    // BasecallServer's constructor says.
    ServerTransport(const ServerOptions& options, ServerState& state);
    ~ServerTransport() { stop(); }
    ServerTransport(const ServerTransport&) = delete;
    ServerTransport& operator=(const ServerTransport&) = delete;

    // The bound endpoint, with the real port for a wildcard address.
    const std::string& endpoint() const { return m_endpoint; }

    // Starts serving on a thread of its own, each request answered by `dispatcher`.
    void start(RequestDispatcher& dispatcher);
    // Stops serving, joins the thread and closes the socket; idempotent.
    void stop();

private:
    void enable_curve(const CurveServerSettings& curve);
    void serve(RequestDispatcher& dispatcher);
    void receive_one(RequestDispatcher& dispatcher);
    // Receives the frames of one message; false when none arrived in time.
    bool receive_frames();
    // Counts the request and says whether the fault settings leave it unanswered.
    bool stay_silent();
    void send_reply(std::size_t payload_start, ipc_tools::Message& answer);

    ServerState& m_state;
    zmq::context_t m_context{1};
    zmq::socket_t m_socket{m_context, zmq::socket_type::router};
    std::unique_ptr<ZapHandler> m_zap;     // with CURVE only
    std::vector<zmq::message_t> m_frames;  // of the request being served; kept to reuse
    std::string m_request_key;             // client key of the request being served, under CURVE
    std::string m_endpoint;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace reference_server
