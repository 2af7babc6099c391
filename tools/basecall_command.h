#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tamsu_cli {

// "tamsu basecall": parses the arguments and runs a BasecallRun.
class BasecallCommand {
public:
    static std::string usage();
    // Throws CLI::ParseError (UsageError among them) for arguments it cannot act on.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tamsu_cli
