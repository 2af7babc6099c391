#include "program_support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace program_support {

namespace {

// The file actions of one spawn, released however the spawn ends.
class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&m_actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&m_actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;

    void open(int fd, const std::string& path, int flags)
    {
        if (!path.empty()) {
            posix_spawn_file_actions_addopen(&m_actions, fd, path.c_str(), flags, 0644);
        }
    }
    void dup2(int from, int to) { posix_spawn_file_actions_adddup2(&m_actions, from, to); }
    void chdir(const std::string& directory)
    {
        if (!directory.empty()) {
            posix_spawn_file_actions_addchdir_np(&m_actions, directory.c_str());
        }
    }
    const posix_spawn_file_actions_t* get() const { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

int exit_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const ChildSetup& setup)
        : m_stop_grace(setup.stop_grace)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    // Close-on-exec, so that no other child inherits this one's pipe and keeps it open.
    int pipe_ends[2] = {-1, -1};
    if (setup.output_to_pipe && pipe2(pipe_ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("could not start " + program + ": no pipe");
    }
    SpawnActions actions;
    actions.open(STDIN_FILENO, setup.input_file, O_RDONLY);
    if (setup.output_to_pipe) {
        actions.dup2(pipe_ends[1], STDOUT_FILENO);
    }
    actions.open(STDOUT_FILENO, setup.output_file, O_WRONLY | O_CREAT | O_TRUNC);
    actions.open(STDERR_FILENO, setup.error_file, O_WRONLY | O_CREAT | O_TRUNC);
    // Last, so that the files above are named from the parent's directory.
    actions.chdir(setup.work_directory);
    const int failed =
            posix_spawn(&m_pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
    m_output = pipe_ends[0];
    if (pipe_ends[1] >= 0) {
        close(pipe_ends[1]);
    }
    if (failed != 0) {
        m_pid = -1;
        if (m_output >= 0) {
            close(m_output);
        }
        throw std::runtime_error("could not start " + program);
    }
}

ChildProcess::~ChildProcess()
{
    stop();
    if (m_output >= 0) {
        close(m_output);
    }
}

void ChildProcess::stop()
{
    if (m_status) {
        return;
    }
    // A clean stop first where there is time for one (a server under a profiler writes its
    // profile then).
    if (m_stop_grace.count() > 0 && send_signal(SIGTERM) && wait_for(m_stop_grace)) {
        return;
    }
    send_signal(SIGKILL);
    wait();
}

std::string ChildProcess::read_line(std::chrono::milliseconds timeout)
{
    const int poll_timeout =
            timeout == std::chrono::milliseconds::max() ? -1 : static_cast<int>(timeout.count());
    std::string line;
    while (m_output >= 0 && (line.empty() || line.back() != '\n')) {
        pollfd item{m_output, POLLIN, 0};
        char c = 0;
        if (poll(&item, 1, poll_timeout) <= 0 || read(m_output, &c, 1) != 1) {
            break;
        }
        line.push_back(c);
    }
    return line;
}

std::string ChildProcess::read_all()
{
    std::string text;
    std::array<char, 4096> buffer;
    ssize_t count = 0;
    while ((count = read(m_output, buffer.data(), buffer.size())) > 0) {
        text.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return text;
}

bool ChildProcess::send_signal(int signal)
{
    return !m_status && kill(m_pid, signal) == 0;
}

std::optional<int> ChildProcess::wait_for(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_status) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = exit_status(status);
        } else if (std::chrono::steady_clock::now() >= deadline) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return m_status;
}

int ChildProcess::wait()
{
    int status = 0;
    while (!m_status) {
        if (waitpid(m_pid, &status, 0) == m_pid) {
            m_status = exit_status(status);
        } else if (errno != EINTR) {
            m_status = -1;
        }
    }
    return *m_status;
}

std::string listening_endpoint(ChildProcess& child, std::chrono::milliseconds timeout)
{
    const std::string prefix = "Listening on ";
    auto line = child.read_line(timeout);
    if (line.compare(0, prefix.size(), prefix) != 0) {
        return {};
    }
    line.erase(0, prefix.size());
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

}  // namespace program_support
