#pragma once

#include "exchange_plan.h"

#include <string>
#include <vector>

namespace bench {

// The transport's limit: plain ZeroMQ REQ sockets exchanging messages of a read's sizes with a
// ROUTER peer (the server's socket type), with no FlatBuffers and no work between exchanges.

// Serves requests, as the reference server does (one I/O thread, one serving thread, replies
// sent without a copy), on every endpoint until a request shorter than four bytes arrives (it is
// answered too); each request starts with the size of the reply it wants. Blocks; run it in its own
// process.
void run_echo_peer(const std::vector<std::string>& endpoints);

// Runs `plan` over and over on `clients` REQ sockets connected to `endpoint` for about `seconds`:
// one on the calling thread, each further one on a thread of its own with its own context, as
// every library client has its worker. Returns the completed plans (reads) per second.
double bare_reads_per_second(const std::string& endpoint, const std::vector<Exchange>& plan,
                             std::size_t clients, double seconds);

// Runs `plan` `warm_up` + `reads` times, one read at a time, on one REQ socket connected to
// `endpoint`, and returns the time each of the last `reads` took, in microseconds.
std::vector<double> bare_read_latencies(const std::string& endpoint,
                                        const std::vector<Exchange>& plan, std::size_t warm_up,
                                        std::size_t reads);

// Tells the peer at `endpoint` to stop and waits for its answer.
void stop_echo_peer(const std::string& endpoint);

}  // namespace bench
