#include "child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace bench {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int failed =
            posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    m_output = pipe_ends[0];
    if (failed != 0) {
        close(m_output);
        throw std::runtime_error("could not start " + program);
    }
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        // A clean stop first, so a server under a profiler still writes its profile.
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 100 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i) {
            usleep(50000);
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    close(m_output);
}

std::string ChildProcess::read_line()
{
    std::string line;
    char c = 0;
    while (read(m_output, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

int ChildProcess::wait()
{
    int status = 0;
    while (waitpid(m_pid, &status, 0) == -1 && errno == EINTR) {
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::unique_ptr<ChildProcess> start_listening(const std::string& program,
                                              const std::vector<std::string>& arguments)
{
    auto child = std::make_unique<ChildProcess>(program, arguments);
    if (child->read_line().rfind("Listening", 0) != 0) {
        throw std::runtime_error(program + " did not start listening");
    }
    return child;
}

}  // namespace bench
