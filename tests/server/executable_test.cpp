#include "server_test_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

using namespace server_test;

// Runs the server executable with its standard output on a pipe.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> arguments)
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

    ~ServerProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_output >= 0) {
            close(m_output);
        }
    }

    // Reads standard output until a full line or end of file, within a generous deadline.
    std::string read_line()
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

    std::string read_all()
    {
        std::string text;
        std::array<char, 4096> buffer;
        ssize_t count = 0;
        while ((count = read(m_output, buffer.data(), buffer.size())) > 0) {
            text.append(buffer.data(), static_cast<std::size_t>(count));
        }
        return text;
    }

    // Sends `signal` (none for 0) and waits for the exit status; -1 when it did not exit
    // normally in time.
    int stop(int signal)
    {
        if (signal != 0) {
            kill(m_pid, signal);
        }
        for (int i = 0; i < 2000; ++i) {
            int status = 0;
            const auto done = waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_output = -1;
};

TEST(ExecutableTest, ServesUntilSigtermAndExitsCleanly)
{
    ServerProcess process(
            {"--threads", "1", "--refuse-config", "toy_modbase", "tcp://127.0.0.1:*"});
    const auto line = process.read_line();
    ASSERT_THAT(line, testing::StartsWith("Listening on tcp://127.0.0.1:"));
    const auto endpoint = line.substr(std::string("Listening on ").size(),
                                      line.size() - std::string("Listening on ").size() - 1);
    TestClient client(endpoint);
    EXPECT_EQ(client.simple(MessageType::LOAD_CONFIG, "", 0, "toy_modbase").get_type(),
              MessageType::REQUEST_FAILED);
    EXPECT_EQ(client.simple(MessageType::GET_STATE).get_type(), MessageType::RETURN_STATE);
    EXPECT_EQ(process.stop(SIGTERM), 0);
}

TEST(ExecutableTest, SigintAlsoStopsIt)
{
    ServerProcess process({"127.0.0.1:0"});
    ASSERT_THAT(process.read_line(), testing::StartsWith("Listening on tcp://127.0.0.1:"));
    EXPECT_EQ(process.stop(SIGINT), 0);
}

TEST(ExecutableTest, HelpMentionsEveryFlag)
{
    ServerProcess process({"--help"});
    const auto text = process.read_all();
    EXPECT_EQ(process.stop(0), 0);
    for (const auto* flag : {"--help", "--threads", "--load-delay", "--call-delay",
                             "--max-reads-in-flight", "--lose-reads", "--refuse-config", "--silent",
                             "--silent-requests", "--zero-work", "ADDRESS"}) {
        EXPECT_THAT(text, testing::HasSubstr(flag));
    }
}

TEST(ExecutableTest, BadArgumentsFailWithUsage)
{
    for (const auto& arguments : std::vector<std::vector<std::string>>{
                 {}, {"--threads"}, {"--load-delay", "soon", "5555"}, {"--bogus", "5555"}}) {
        ServerProcess process(arguments);
        EXPECT_EQ(process.stop(0), 2);
    }
}

}  // namespace
