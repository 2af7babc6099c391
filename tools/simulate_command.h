#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tamsu_cli {

// "tamsu simulate": writes synthetic raw reads in the input format of "tamsu basecall".
class SimulateCommand {
public:
    static const char* usage();
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tamsu_cli
