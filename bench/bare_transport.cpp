#include "bare_transport.h"

#include <zmq.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

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
    Socket socket(context, ZMQ_REP);
    for (const auto& endpoint : endpoints) {
        check(zmq_bind(socket.handle, endpoint.c_str()), "bind");
    }
    std::vector<char> reply(1 << 20);
    zmq_msg_t request;
    zmq_msg_init(&request);
    while (true) {
        const int received = zmq_msg_recv(&request, socket.handle, 0);
        check(received, "receive");
        std::uint32_t reply_bytes = 0;
        if (received >= static_cast<int>(sizeof reply_bytes)) {
            std::memcpy(&reply_bytes, zmq_msg_data(&request), sizeof reply_bytes);
        }
        check(zmq_send(socket.handle, reply.data(),
                       std::min<std::size_t>(reply_bytes, reply.size()), 0),
              "reply");
        if (received < static_cast<int>(sizeof reply_bytes)) {
            break;
        }
    }
    zmq_msg_close(&request);
}

double bare_reads_per_second(const std::string& endpoint, const std::vector<Exchange>& plan,
                             std::size_t clients, double seconds)
{
    // One context (so one ZeroMQ I/O thread) per client, as every library client has its own.
    std::vector<std::unique_ptr<Context>> contexts;
    std::vector<std::unique_ptr<Socket>> sockets;
    std::vector<zmq_pollitem_t> items;
    std::vector<std::size_t> step(clients, 0);
    std::vector<char> payload(largest_request(plan));
    for (std::size_t i = 0; i < clients; ++i) {
        contexts.push_back(std::make_unique<Context>());
        sockets.push_back(std::make_unique<Socket>(*contexts.back(), ZMQ_REQ));
        check(zmq_connect(sockets.back()->handle, endpoint.c_str()), "connect");
        items.push_back({sockets.back()->handle, 0, ZMQ_POLLIN, 0});
        send_sized(sockets.back()->handle, payload, plan[0].request_bytes, plan[0].reply_bytes);
    }
    zmq_msg_t reply;
    zmq_msg_init(&reply);
    std::size_t reads = 0;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(seconds));
    std::size_t busy = clients;
    while (busy > 0) {
        check(zmq_poll(items.data(), static_cast<int>(items.size()), 10000), "poll");
        const bool sending = Clock::now() < deadline;
        for (std::size_t i = 0; i < clients; ++i) {
            if ((items[i].revents & ZMQ_POLLIN) == 0) {
                continue;
            }
            check(zmq_msg_recv(&reply, items[i].socket, 0), "receive");
            step[i] = (step[i] + 1) % plan.size();
            reads += step[i] == 0 ? 1 : 0;
            // A client stops only between reads, so every counted read is whole.
            if (step[i] == 0 && !sending) {
                items[i].events = 0;
                --busy;
                continue;
            }
            const auto& next = plan[step[i]];
            send_sized(items[i].socket, payload, next.request_bytes,
                       static_cast<std::uint32_t>(next.reply_bytes));
        }
    }
    zmq_msg_close(&reply);
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
