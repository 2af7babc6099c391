#pragma once

#include "client/result.h"
#include "tools/basecall_options.h"
#include "tools/input_sequence.h"
#include "tools/read_record_writer.h"
#include "tools/run_journal.h"

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

namespace tamsu_cli {

class ClientPool;
class FinishedReadSkipper;
class ProgressMeter;
class ReadFeeder;
class ResultWriter;

// One "tamsu basecall": reads the input, passes every read through a client per server (see
// ClientPool), writes the called reads, and reports. Output files get their final names only when
// every read came back; anything else leaves them partial and fails.
class BasecallRun {
public:
    BasecallRun(BasecallOptions options, std::ostream& out, std::ostream& err);
    ~BasecallRun();

    // The process exit status: 0 when every read was basecalled and written, 1 otherwise.
    int run();

private:
    int run_with(const std::vector<std::string>& addresses);
    bool connect(std::size_t index, const std::string& address);
    // Why connect failed, in the client's words unless this program knows better.
    std::string connect_failure(tamsu::Result result, std::string message,
                                const std::string& address) const;
    // An index or BED file that does not exist, which the client would report as a path it
    // cannot resolve; empty when there is none.
    std::string missing_file() const;
    // The server refuses an unknown LAMP kit as an unknown barcode kit, naming no kit; empty
    // unless the LAMP kit is what it does not have.
    std::string unknown_lamp_kit(const std::string& address) const;
    // The outputs, afresh or (with --resume) going on from an interrupted run's; throws
    // std::runtime_error when that run's settings differ from `settings`.
    std::unique_ptr<ResultWriter> open_outputs(const RunSettings& settings,
                                               const RecordHeader& header);
    // `skipped`: the reads an interrupted run had written, counted in but not passed again.
    int basecall(ReadFeeder& feeder, ResultWriter& writer, const FinishedReadSkipper& skipped);
    // Why the run cannot complete, or empty while it still can.
    std::string stop_reason(const ReadFeeder& feeder, const ResultWriter& writer) const;
    int conclude(bool complete, std::string reason, ResultWriter& writer, unsigned long reads_in);
    void print_summary(ResultWriter& writer, unsigned long reads_in, bool complete);
    void print_servers();
    void warn_of_duplicates();
    std::string server_name(const std::string& address) const;

    BasecallOptions m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    std::chrono::steady_clock::time_point m_start;
    std::unique_ptr<ClientPool> m_clients;
    std::optional<InputSequence> m_inputs;
    // The ids of the reads an interrupted run had written, with how many reads had each.
    std::unordered_map<std::string, unsigned long> m_finished;
};

}  // namespace tamsu_cli
