#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace reference_server {

// The largest raw block accepted, in samples. A client's block is its block size times the model
// stride: 500,000 samples with the default block size at the largest stride (10). This leaves
// eight times that for larger block sizes while bounding what one message makes the server hold.
constexpr std::size_t k_max_block_samples = std::size_t{1} << 22;
// A block's FlatBuffers envelope: its tables, the read id and the connection id.
constexpr std::size_t k_max_envelope_bytes = 64 * 1024;
// No message received may be larger: the largest block with its envelope.
constexpr std::size_t k_max_message_bytes =
        k_max_block_samples * sizeof(std::int16_t) + k_max_envelope_bytes;

// Ways to make the server misbehave on purpose, so that clients can be tested against them.
// All of them are off by default.
struct FaultSettings {
    // LOAD_CONFIG, LOAD_INDEX and LOAD_BED answer LOADING until this long after the first
    // request for the same name, then do the load.
    std::chrono::milliseconds load_delay{0};
    // A read becomes available to GET_FIRST_CALLED_BLOCK this long after its last raw block.
    std::chrono::milliseconds call_delay{0};
    // Each read keeps a worker busy this long on top of calling it, so reads queue up.
    std::chrono::milliseconds call_time{0};
    // Reads a client may have in flight (receiving, calling or not yet fully returned) before a
    // first raw block is answered NOT_READY; 0 means no limit.
    std::uint32_t max_reads_in_flight = 0;
    // Called reads are dropped; the client's next NONE_PENDING carries value 1. A client drops
    // every read it has fully submitted when it hears of a loss, so the server then drops the
    // client's reads still being called, waiting or partly returned as well.
    bool lose_reads = false;
    // Configuration names whose LOAD_CONFIG fails with REQUEST_FAILED.
    std::vector<std::string> refused_configs;
    // Answer nothing at all while set.
    bool silent = false;
    // Leave this many of the next requests unanswered (counts down as requests arrive).
    std::uint32_t silent_requests = 0;
    // Skip calling: every read comes back at once with no events and no bases.
    bool zero_work = false;
};

// CURVE transport security; off while secret_key is empty. Under CURVE a connection id is bound
// to the client key that connected: requests naming it from another key get
// CLIENT_NOT_RECOGNISED.
struct CurveServerSettings {
    std::string secret_key;  // the server's, 40 characters of Z85 text
    // Public keys (Z85) of the clients admitted; empty: every client that completes the
    // handshake, that is, that knows the server's public key.
    std::set<std::string> allowed_client_keys;
};

struct ServerOptions {
    // A port ("5555", the loopback interface), "host:port", or a full ZeroMQ endpoint
    // ("ipc://path", "tcp://127.0.0.1:*"); see to_bind_endpoint.
    std::string address = "tcp://127.0.0.1:*";
    // A bare port binds every interface instead of the loopback one.
    bool bind_all = false;
    // Clients registered at once; a CONNECT beyond them is refused. 0: no limit.
    std::size_t max_clients = 1000;
    std::size_t worker_threads = 2;
    FaultSettings faults;
    // When set, every read reported lost is appended to this file (see LostReadsLog).
    std::string lost_reads_file;
    CurveServerSettings curve;
};

// Counters reported by GET_STATISTICS as stat_0 to stat_3, in this order.
struct ServerCounters {
    std::uint64_t reads_received = 0;  // reads whose last raw block arrived
    std::uint64_t reads_called = 0;    // reads the workers finished calling
    std::uint64_t samples_called = 0;  // raw samples of those reads
    std::uint64_t bases_called = 0;    // bases of those reads
};

// The reference basecall server: one ROUTER socket served on a thread of its own, reads called
// by a pool of worker threads. Every public function is thread-safe. Per connected client
// GET_STATISTICS reports value_0 = reads in flight and value_1 = reads returned. A client that
// sends nothing for its connection time-out is forgotten with its reads (see ClientRegistry);
// a message larger than any raw block never reaches the handlers (its sender is disconnected).
class BasecallServer {
public:
    // Binds and starts serving. Throws zmq::error_t when the address cannot be bound,
    // std::invalid_argument for an address it cannot interpret and std::runtime_error for an
    // ipc:// path that another server is serving.
    explicit BasecallServer(ServerOptions options);
    // Stops and joins every thread.
    ~BasecallServer();
    BasecallServer(const BasecallServer&) = delete;
    BasecallServer& operator=(const BasecallServer&) = delete;

    // Stops serving and joins the threads; idempotent.
    void stop();

    // The bound endpoint, with the real port for a wildcard address.
    std::string endpoint() const;

    FaultSettings faults() const;
    void set_faults(const FaultSettings& faults);
    // Forgets every connected client: their later requests get CLIENT_NOT_RECOGNISED.
    void forget_all_clients();

    std::size_t client_count() const;
    ServerCounters counters() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace reference_server
