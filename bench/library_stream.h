#pragma once

#include "client/tamsu_client.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bench {

// A deterministic raw signal of `samples` samples.
std::vector<std::int16_t> make_signal(std::size_t samples);

// A read over `signal`: a view of it (the caller keeps it alive) or, with `own`, its own copy.
tamsu::Read make_read(std::uint64_t tag, const std::vector<std::int16_t>& signal, bool own);

// A public client connected to the server at `address` with calling configuration
// "toy_flipflop_fast"; throws std::runtime_error when it cannot connect.
std::unique_ptr<tamsu::TamsuClient> connect_client(const std::string& address);

// Streams reads of `samples` samples through `clients` public clients connected to the server at
// `address` (one host thread each, keeping its queue full) for about `seconds`, then finishes
// them. Returns the reads that came back per second.
double library_reads_per_second(const std::string& address, std::size_t samples,
                                std::size_t clients, double seconds);

// Passes `warm_up` + `reads` reads of `samples` samples through one public client connected to
// the server at `address`, one at a time, each as soon as the one before is back. Returns the
// time from pass_read to the read's return in get_completed_reads for the last `reads`, in
// microseconds.
std::vector<double> library_read_latencies(const std::string& address, std::size_t samples,
                                           std::size_t warm_up, std::size_t reads);

}  // namespace bench
