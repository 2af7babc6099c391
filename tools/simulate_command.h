#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tamsu_cli {

class ReadSimulator;

// "tamsu simulate": writes synthetic raw reads in the input format of "tamsu basecall".
class SimulateCommand {
public:
    static std::string usage();
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

private:
    // Writes `count` reads to `output` ("-": `out`) in the format its name asks for.
    static int write_output(const std::string& output, unsigned long count,
                            ReadSimulator& simulator, std::ostream& out, std::ostream& err);
};

}  // namespace tamsu_cli
