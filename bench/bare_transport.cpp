#include "bare_transport.h"

#include <zmq.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

void check(int result, const char* what)
{
    if (result == -1) {
        throw std::runtime_error(std::string(what) + ": " + zmq_strerror(zmq_errno()));
    }
}

struct Context {
    void* handle = zmq_ctx_new();
    ~Context() { zmq_ctx_term(handle); }
};

struct Socket {
    Socket(Context& context, int type)
            : handle(zmq_socket(context.handle, type))
    {
        int linger = 0;
        check(zmq_setsockopt(handle, ZMQ_LINGER, &linger, sizeof linger), "linger");
    }
    ~Socket() { zmq_close(handle); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    void* handle;
};

// Sends `bytes` bytes of `payload`, whose first four bytes are overwritten with `reply_bytes`.
void send_sized(void* socket, std::vector<char>& payload, std::size_t bytes,
                std::uint32_t reply_bytes)
{
    std::memcpy(payload.data(), &reply_bytes, sizeof reply_bytes);
    check(zmq_send(socket, payload.data(), bytes, 0), "send");
}

std::size_t largest_request(const std::vector<Exchange>& plan)
{
    std::size_t largest = sizeof(std::uint32_t);
    for (const auto& exchange : plan) {
        largest = std::max(largest, exchange.request_bytes);
    }
    return largest;
}

}  // namespace

void run_echo_peer(const std::vector<std::string>& endpoints)
{
    Context context;
    Socket socket(context, ZMQ_ROUTER);
    for (const auto& endpoint : endpoints) {
        check(zmq_bind(socket.handle, endpoint.c_str()), "bind");
    }
    std::vector<char> reply(1 << 20);
    zmq_msg_t identity, delimiter, request;
    zmq_msg_init(&identity);
    zmq_msg_init(&delimiter);
    zmq_msg_init(&request);
    while (true) {
        check(zmq_msg_recv(&identity, socket.handle, 0), "receive");
        check(zmq_msg_recv(&delimiter, socket.handle, 0), "receive");
        const int received = zmq_msg_recv(&request, socket.handle, 0);
        check(received, "receive");
        std::uint32_t reply_bytes = 0;
        if (received >= static_cast<int>(sizeof reply_bytes)) {
            std::memcpy(&reply_bytes, zmq_msg_data(&request), sizeof reply_bytes);
        }
        check(zmq_msg_send(&identity, socket.handle, ZMQ_SNDMORE), "reply");
        check(zmq_msg_send(&delimiter, socket.handle, ZMQ_SNDMORE), "reply");
        check(zmq_send(socket.handle, reply.data(),
                       std::min<std::size_t>(reply_bytes, reply.size()), 0),
              "reply");
        if (received < static_cast<int>(sizeof reply_bytes)) {
            break;
        }
    }
    zmq_msg_close(&request);
}

namespace {

// One client's loop: the plan over and over on its own context and REQ socket until the
// deadline, stopping only between reads so that every counted read is whole.
std::size_t run_plan(const std::string& endpoint, const std::vector<Exchange>& plan,
                     Clock::time_point deadline)
{
    Context context;
    Socket socket(context, ZMQ_REQ);
    check(zmq_connect(socket.handle, endpoint.c_str()), "connect");
    std::vector<char> payload(largest_request(plan));
    zmq_msg_t reply;
    zmq_msg_init(&reply);
    std::size_t reads = 0;
    for (; Clock::now() < deadline; ++reads) {
        for (const auto& exchange : plan) {
            send_sized(socket.handle, payload, exchange.request_bytes,
                       static_cast<std::uint32_t>(exchange.reply_bytes));
            check(zmq_msg_recv(&reply, socket.handle, 0), "receive");
        }
    }
    zmq_msg_close(&reply);
    return reads;
}

}  // namespace

double bare_reads_per_second(const std::string& endpoint, const std::vector<Exchange>& plan,
                             std::size_t clients, double seconds)
{
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(seconds));
    std::atomic<std::size_t> reads{0};
    std::vector<std::thread> others;
    for (std::size_t i = 1; i < clients; ++i) {
        others.emplace_back([&] { reads += run_plan(endpoint, plan, deadline); });
    }
    reads += run_plan(endpoint, plan, deadline);
    for (auto& other : others) {
        other.join();
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    return static_cast<double>(reads) / elapsed.count();
}

void stop_echo_peer(const std::string& endpoint)
{
    Context context;
    Socket socket(context, ZMQ_REQ);
    check(zmq_connect(socket.handle, endpoint.c_str()), "connect");
    check(zmq_send(socket.handle, "", 0, 0), "send");
    char reply = 0;
    check(zmq_recv(socket.handle, &reply, sizeof reply, 0), "receive");
}

}  // namespace bench
