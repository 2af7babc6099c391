#include "child_programs.h"

#include <stdexcept>

namespace bench {

program_support::ChildSetup piped_output()
{
    program_support::ChildSetup setup;
    setup.output_to_pipe = true;
    setup.stop_grace = std::chrono::seconds(5);
    return setup;
}

std::unique_ptr<program_support::ChildProcess>
start_listening(const std::string& program, const std::vector<std::string>& arguments)
{
    auto child =
            std::make_unique<program_support::ChildProcess>(program, arguments, piped_output());
    if (program_support::listening_endpoint(*child, std::chrono::milliseconds::max()).empty()) {
        throw std::runtime_error(program + " did not start listening");
    }
    return child;
}

}  // namespace bench
