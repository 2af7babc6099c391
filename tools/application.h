#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tamsu_cli {

// The "tamsu" program: picks the command and turns errors into messages and exit statuses
// (0 success, 1 failure, including output that standard output did not take, 2 a command
// line it cannot act on).
class Application {
public:
    static const char* usage();
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

private:
    // run, without checking that standard output took everything.
    static int run_unchecked(const std::vector<std::string>& arguments, std::ostream& out,
                             std::ostream& err);
    static int run_command(const std::string& command, const std::vector<std::string>& arguments,
                           std::ostream& out, std::ostream& err);
};

}  // namespace tamsu_cli
