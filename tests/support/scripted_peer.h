#pragma once

#include "ipc_tools/message.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tamsu_test {

// What the peer does with one request.
struct PeerAction {
    enum class Kind { reply, silence };
    Kind kind = Kind::silence;
    std::vector<std::uint8_t> bytes;     // the reply, sent as it is
    std::chrono::milliseconds delay{0};  // wait before replying

    static PeerAction reply(const ipc_tools::Message& message,
                            std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    static PeerAction raw(std::vector<std::uint8_t> bytes);
    static PeerAction silence() { return {}; }
};

// A request as the peer received it.
struct ReceivedRequest {
    ipc_tools::MessageType type = ipc_tools::MessageType::UNSET;
    std::string connection_id;
    std::uint32_t value = 0;
    std::string text;
    std::vector<std::uint8_t> bytes;
};

// A server stand-in for exact edge cases: serves requests on its own thread from a ROUTER
// socket (so it may stay silent without wedging), answers each from a script or a handler, and
// records every request. Stops and joins its thread when destroyed.
class ScriptedPeer {
public:
    using Handler = std::function<PeerAction(const ReceivedRequest&)>;

    // Binds tcp on a free loopback port, or `endpoint` when given. A peer that serves for long
    // (a fuzz target's) keeps no record of the requests.
    explicit ScriptedPeer(Handler handler, const std::string& endpoint = "tcp://127.0.0.1:*",
                          bool record_requests = true);
    // Answers the n-th request with script[n]; requests beyond the script get silence.
    explicit ScriptedPeer(std::vector<PeerAction> script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // The bound endpoint, e.g. "tcp://127.0.0.1:40123".
    const std::string& endpoint() const { return m_endpoint; }
    // "host:port" form of the endpoint, as hosts pass addresses to the library.
    std::string address() const;

    std::vector<ReceivedRequest> requests() const;
    // Waits until `count` requests have arrived; false on time-out.
    bool wait_for_requests(std::size_t count,
                           std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

private:
    void serve();

    Handler m_handler;
    zmq::context_t m_context;
    zmq::socket_t m_socket;
    std::string m_endpoint;
    mutable std::mutex m_mutex;  // guards m_requests
    mutable std::condition_variable m_changed;
    std::vector<ReceivedRequest> m_requests;
    bool m_record_requests = true;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A reply as the server would build it, for scripts.
ipc_tools::Message simple_reply(ipc_tools::MessageType type, std::uint32_t value = 0,
                                const std::string& text = "");

}  // namespace tamsu_test
