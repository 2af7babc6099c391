#include "support/child_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace tamsu_test {

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int wait_with_deadline(pid_t pid, int interrupt_after_ms, int deadline_s)
{
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(deadline_s);
    bool interrupted = interrupt_after_ms < 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!interrupted && std::chrono::steady_clock::now() >=
                                    start + std::chrono::milliseconds(interrupt_after_ms)) {
            kill(pid, SIGINT);
            interrupted = true;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

}  // namespace

ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& work_directory, const std::string& input_file,
                          int interrupt_after_ms, int deadline_s)
{
    // Everything the child needs is prepared before fork: it may only redirect and exec.
    const auto out_path = work_directory + "/child.out";
    const auto err_path = work_directory + "/child.err";
    std::vector<std::string> owned{program};
    owned.insert(owned.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : owned) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int in = open(input_file.empty() ? "/dev/null" : input_file.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ProgramResult result;
    const pid_t pid = in >= 0 && out >= 0 && err >= 0 ? fork() : -1;
    if (pid == 0) {
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (chdir(work_directory.c_str()) != 0) {
            _exit(126);
        }
        execv(owned[0].c_str(), argv.data());
        _exit(127);
    }
    for (const int fd : {in, out, err}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (pid > 0) {
        result.exit_code = wait_with_deadline(pid, interrupt_after_ms, deadline_s);
    }
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

}  // namespace tamsu_test
