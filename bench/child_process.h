#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace bench {

// A program run as a child process with its standard output on a pipe (standard error is
// inherited). Stopped (SIGTERM, then SIGKILL after 5 s) and reaped when destroyed, unless it was
// waited for.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output, without its newline; empty at the end of the output.
    std::string read_line();
    // Waits for the child to exit and returns its exit status (-1 when it did not exit normally).
    int wait();

private:
    pid_t m_pid = -1;
    int m_output = -1;
};

// Starts a program that prints a line starting with "Listening" once it serves requests, and
// waits for that line; throws std::runtime_error when the output ends without it.
std::unique_ptr<ChildProcess> start_listening(const std::string& program,
                                              const std::vector<std::string>& arguments);

}  // namespace bench
