#pragma once

#include "program_support/child_process.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// How the benchmarks run programs: standard output on a pipe, standard error inherited, and a
// clean stop (SIGTERM, then SIGKILL after 5 s) when released, so that a server under a profiler
// still writes its profile.
program_support::ChildSetup piped_output();

// Starts a program that prints "Listening on ENDPOINT" once it serves requests, and waits for
// that line; throws std::runtime_error when the output ends without it. With `cpu`, the program
// and every thread it starts run on that CPU only.
std::unique_ptr<program_support::ChildProcess>
start_listening(const std::string& program, const std::vector<std::string>& arguments,
                std::optional<int> cpu = std::nullopt);

// Where a pinned benchmark runs: servers and plain peers on one CPU, the clients (and any
// client program started) on another.
struct PinnedCpus {
    int server = 0;
    int clients = 1;
};

// Picks the first two CPUs this process may use and pins the calling thread, with the threads
// and programs it starts from now on, to the clients' one. Throws std::runtime_error when the
// process may use only one CPU.
PinnedCpus pin_clients();

}  // namespace bench
