#pragma once

#include "tools/basecall_options.h"

#include <chrono>
#include <ostream>
#include <string>

namespace tamsu {
class TamsuClient;
}

namespace tamsu_cli {

class ProgressMeter;
class ReadFeeder;
class ResultWriter;

// One "tamsu basecall": reads the input, passes every read through one client to the server,
// writes the called reads, and reports. Output files get their final names only when every
// read came back; anything else leaves them partial and fails.
class BasecallRun {
public:
    BasecallRun(BasecallOptions options, std::ostream& out, std::ostream& err);

    // The process exit status: 0 when every read was basecalled and written, 1 otherwise.
    int run();

private:
    int run_with(const std::string& address);
    bool connect(tamsu::TamsuClient& client, const std::string& address);
    int basecall(tamsu::TamsuClient& client, ReadFeeder& feeder, ResultWriter& writer);
    // Collects and writes every completed read; returns how many there were.
    std::size_t collect(tamsu::TamsuClient& client, ResultWriter& writer, ProgressMeter& progress);
    // Why the run cannot complete, or empty while it still can.
    std::string stop_reason(tamsu::TamsuClient& client, const ReadFeeder& feeder) const;
    bool finish(tamsu::TamsuClient& client, ResultWriter& writer, ProgressMeter& progress);
    int conclude(bool complete, const std::string& reason, ResultWriter& writer,
                 unsigned long reads_in);
    void print_summary(ResultWriter& writer, unsigned long reads_in, bool complete);
    std::string server_name(const std::string& address) const;

    BasecallOptions m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    std::chrono::steady_clock::time_point m_start;
};

}  // namespace tamsu_cli
