#pragma once

#include "program_support/child_process.h"

#include <memory>
#include <string>
#include <vector>

namespace bench {

// How the benchmarks run programs: standard output on a pipe, standard error inherited, and a
// clean stop (SIGTERM, then SIGKILL after 5 s) when released, so that a server under a profiler
// still writes its profile.
program_support::ChildSetup piped_output();

// Starts a program that prints "Listening on ENDPOINT" once it serves requests, and waits for
// that line; throws std::runtime_error when the output ends without it.
std::unique_ptr<program_support::ChildProcess>
start_listening(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace bench
