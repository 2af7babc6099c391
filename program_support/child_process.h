#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace program_support {

// Where a child's standard streams go and where it runs. An empty path leaves that stream, or the
// working directory, as the parent's.
struct ChildSetup {
    std::string input_file;       // standard input read from here
    bool output_to_pipe = false;  // standard output for read_line and read_all
    std::string output_file;      // otherwise standard output written (truncated) here
    std::string error_file;       // standard error written (truncated) here
    std::string work_directory;   // also where a relative program path is looked up
    // How long the destructor waits after SIGTERM before SIGKILL; zero kills at once.
    std::chrono::milliseconds stop_grace{0};
};

// A program run as a child process. The constructor starts it or throws std::runtime_error
// "could not start PROGRAM"; the destructor stops (SIGTERM, SIGKILL after the grace period) and
// reaps a child that has not been seen to exit. For one thread at a time.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const ChildSetup& setup = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of piped output with its newline; what came before the end of the output, or
    // before `timeout` passed without a byte, otherwise (no newline then).
    std::string read_line(std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
    // Piped output to its end.
    std::string read_all();

    // Sends `signal` without waiting; false when the child has been reaped.
    bool send_signal(int signal);
    // The exit status once the child has exited, waiting up to `timeout`: -1 when it did not
    // exit normally (killed, crashed); nullopt while it still runs.
    std::optional<int> wait_for(std::chrono::milliseconds timeout);
    // The exit status, however long the child takes.
    int wait();

private:
    void stop();

    pid_t m_pid = -1;
    int m_output = -1;
    std::optional<int> m_status;
    std::chrono::milliseconds m_stop_grace;
};

// The endpoint from a child's first line of output when that reads "Listening on ENDPOINT" (as the
// reference server prints once it serves); empty when another line, the end of the output or the
// timeout came first.
std::string listening_endpoint(ChildProcess& child, std::chrono::milliseconds timeout);

}  // namespace program_support
