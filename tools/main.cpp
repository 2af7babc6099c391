// tamsu: the command-line basecaller; see "tamsu --help".

#include "tools/application.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    // Large outputs (simulated reads, summaries) are written in big pieces; no need to keep
    // C stdio in step.
    std::ios::sync_with_stdio(false);
    // A file grown past the size limit is a write error to report with its reason, like a full
    // disk, not a reason to die without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    return tamsu_cli::Application::run(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                       std::cerr);
}
