#include "support/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

namespace tamsu_test {

ServerProcess::ServerProcess(std::vector<std::string> arguments)
{
    // Everything the child needs is prepared before fork: it may only exec or exit.
    std::string program = TAMSU_BASECALL_SERVER_PATH;
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int quiet = open("/dev/null", O_WRONLY);
    int fds[2];
    if (quiet < 0 || pipe(fds) != 0) {
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(quiet);
    close(fds[1]);
    m_output = fds[0];
}

ServerProcess::~ServerProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_output >= 0) {
        close(m_output);
    }
}

std::string ServerProcess::read_line()
{
    std::string line;
    while (line.empty() || line.back() != '\n') {
        pollfd item{m_output, POLLIN, 0};
        if (poll(&item, 1, 20000) <= 0) {
            break;
        }
        char c = 0;
        if (read(m_output, &c, 1) != 1) {
            break;
        }
        line.push_back(c);
    }
    return line;
}

std::string ServerProcess::read_all()
{
    std::string text;
    std::array<char, 4096> buffer;
    ssize_t count = 0;
    while ((count = read(m_output, buffer.data(), buffer.size())) > 0) {
        text.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return text;
}

std::string ServerProcess::wait_for_endpoint()
{
    const std::string prefix = "Listening on ";
    auto line = read_line();
    if (line.compare(0, prefix.size(), prefix) != 0) {
        return {};
    }
    line = line.substr(prefix.size());
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

bool ServerProcess::send_signal(int signal)
{
    return m_pid > 0 && kill(m_pid, signal) == 0;
}

int ServerProcess::stop(int signal)
{
    if (signal != 0) {
        kill(m_pid, signal);
    }
    for (int i = 0; i < 2000; ++i) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(10000);
    }
    return -1;
}

}  // namespace tamsu_test
