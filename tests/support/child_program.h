#pragma once

#include <string>
#include <vector>

namespace tamsu_test {

// What a finished child process left behind.
struct ProgramResult {
    int exit_code = -1;  // -1 when it was killed, crashed or overran the deadline
    std::string out;
    std::string err;
};

// Runs `program` with `arguments` in `work_directory`, standard input from `input_file` (or
// /dev/null when empty), and captures both output streams through files there. With
// `interrupt_after_ms` of 0 or more the child gets one SIGINT that long after it started. A
// child still running after `deadline_s` is killed.
ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& work_directory, const std::string& input_file = {},
                          int interrupt_after_ms = -1, int deadline_s = 120);

}  // namespace tamsu_test
