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

// Every reply is a prefix of this buffer, handed to ZeroMQ without a copy: it lives as long as
// the process and is never written after it is filled, so no free function is needed.
const std::vector<char>& reply_buffer()
{
    static const std::vector<char> buffer(1 << 20, 'r');
    return buffer;
}

// Receives one request (identity, delimiter, payload) and answers it with the size it asks
// for. False once the request asked the peer to stop.
bool serve_one(void* socket, zmq_msg_t& identity, zmq_msg_t& delimiter, zmq_msg_t& request)
{
    check(zmq_msg_recv(&identity, socket, 0), "receive");
    check(zmq_msg_recv(&delimiter, socket, 0), "receive");
    const int received = zmq_msg_recv(&request, socket, 0);
    check(received, "receive");
    std::uint32_t reply_bytes = 0;
    const bool stop = received < static_cast<int>(sizeof reply_bytes);
    if (!stop) {
        std::memcpy(&reply_bytes, zmq_msg_data(&request), sizeof reply_bytes);
    }
    const auto& buffer = reply_buffer();
    zmq_msg_t reply;
    check(zmq_msg_init_data(&reply, const_cast<char*>(buffer.data()),
                            std::min<std::size_t>(reply_bytes, buffer.size()), nullptr, nullptr),
          "reply");
    check(zmq_msg_send(&identity, socket, ZMQ_SNDMORE), "reply");
    check(zmq_msg_send(&delimiter, socket, ZMQ_SNDMORE), "reply");
    check(zmq_msg_send(&reply, socket, 0), "reply");
    return !stop;
}

}  // namespace

void run_echo_peer(const std::vector<std::string>& endpoints)
{
    // As the reference server serves: a context with one I/O thread, a ROUTER socket served on
    // a thread of its own with blocking receives, replies sent without a copy.
    Context context;
    Socket socket(context, ZMQ_ROUTER);
    for (const auto& endpoint : endpoints) {
        check(zmq_bind(socket.handle, endpoint.c_str()), "bind");
    }
    std::thread serving([&socket] {
        zmq_msg_t identity, delimiter, request;
        zmq_msg_init(&identity);
        zmq_msg_init(&delimiter);
        zmq_msg_init(&request);
        while (serve_one(socket.handle, identity, delimiter, request)) {
        }
        zmq_msg_close(&request);
    });
    serving.join();
}

namespace {

// One client: its own context and REQ socket, as every library client has its worker.
class PlanClient {
public:
    PlanClient(const std::string& endpoint, const std::vector<Exchange>& plan)
            : m_socket(m_context, ZMQ_REQ)
            , m_plan(plan)
            , m_payload(largest_request(plan))
    {
        check(zmq_connect(m_socket.handle, endpoint.c_str()), "connect");
        zmq_msg_init(&m_reply);
    }
    ~PlanClient() { zmq_msg_close(&m_reply); }
    PlanClient(const PlanClient&) = delete;
    PlanClient& operator=(const PlanClient&) = delete;

    // One read: every exchange of the plan in turn.
    void run_once()
    {
        for (const auto& exchange : m_plan) {
            send_sized(m_socket.handle, m_payload, exchange.request_bytes,
                       static_cast<std::uint32_t>(exchange.reply_bytes));
            check(zmq_msg_recv(&m_reply, m_socket.handle, 0), "receive");
        }
    }

private:
    Context m_context;
    Socket m_socket;
    const std::vector<Exchange>& m_plan;
    std::vector<char> m_payload;
    zmq_msg_t m_reply;
};

// One client's loop: the plan over and over until the deadline, stopping only between reads
// so that every counted read is whole.
std::size_t run_plan(const std::string& endpoint, const std::vector<Exchange>& plan,
                     Clock::time_point deadline)
{
    PlanClient client(endpoint, plan);
    std::size_t reads = 0;
    for (; Clock::now() < deadline; ++reads) {
        client.run_once();
    }
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

std::vector<double> bare_read_latencies(const std::string& endpoint,
                                        const std::vector<Exchange>& plan, std::size_t warm_up,
                                        std::size_t reads)
{
    PlanClient client(endpoint, plan);
    std::vector<double> latencies;
    for (std::size_t i = 0; i < warm_up + reads; ++i) {
        const auto start = Clock::now();
        client.run_once();
        const std::chrono::duration<double, std::micro> elapsed = Clock::now() - start;
        if (i >= warm_up) {
            latencies.push_back(elapsed.count());
        }
    }
    return latencies;
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
