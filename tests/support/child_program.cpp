#include "support/child_program.h"

#include "program_support/child_process.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tamsu_test {

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The child's exit status; -1 when it had to be killed at the deadline.
int finish(program_support::ChildProcess& child, int interrupt_after_ms, int deadline_s)
{
    std::chrono::milliseconds left = std::chrono::seconds(deadline_s);
    if (interrupt_after_ms >= 0) {
        const std::chrono::milliseconds before_interrupt(interrupt_after_ms);
        if (const auto status = child.wait_for(std::min(before_interrupt, left))) {
            return *status;
        }
        child.send_signal(SIGINT);
        left -= std::min(before_interrupt, left);
    }
    return child.wait_for(left).value_or(-1);
}

}  // namespace

ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& work_directory, const std::string& input_file,
                          int interrupt_after_ms, int deadline_s)
{
    program_support::ChildSetup setup;
    setup.input_file = input_file.empty() ? "/dev/null" : input_file;
    setup.output_file = work_directory + "/child.out";
    setup.error_file = work_directory + "/child.err";
    setup.work_directory = work_directory;
    ProgramResult result;
    try {
        program_support::ChildProcess child(program, arguments, setup);
        result.exit_code = finish(child, interrupt_after_ms, deadline_s);
    } catch (const std::runtime_error&) {
        // Not started: exit_code stays -1.
    }
    result.out = slurp(setup.output_file);
    result.err = slurp(setup.error_file);
    return result;
}

}  // namespace tamsu_test
