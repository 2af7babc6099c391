#pragma once

#include "program_support/child_process.h"

#include <string>
#include <vector>

namespace tamsu_test {

// Runs the reference server executable (built with the tests) as a child process with its
// standard output on a pipe and its standard error silenced. Kills and reaps the child when
// destroyed. Throws std::runtime_error when the server cannot be started.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> arguments);
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Reads standard output to its end.
    std::string read_all() { return m_child.read_all(); }
    // The endpoint from the server's "Listening on <endpoint>" line; empty when it never came.
    std::string wait_for_endpoint();

    // Sends `signal` without waiting; false when there is no child to send it to.
    bool send_signal(int signal) { return m_child.send_signal(signal); }
    // Sends `signal` (none for 0) and waits for the exit status; -1 when the child did not exit
    // normally in time.
    int stop(int signal);

private:
    program_support::ChildProcess m_child;
};

}  // namespace tamsu_test
