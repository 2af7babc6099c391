#pragma once

#include "tools/call_totals.h"
#include "tools/read_record_writer.h"
#include "tools/run_journal.h"

#include <optional>
#include <string>
#include <unordered_map>

namespace tamsu_cli {

// Where an interrupted run goes on from: the last of its checkpoints up to which its partial
// outputs are whole, with the reads written by then.
struct ResumePoint {
    RunJournal::Checkpoint checkpoint;
    // The ids of the reads written, with how many reads had each.
    std::unordered_map<std::string, unsigned long> finished;
    CallTotals totals;

    // Reads the outputs at `records` (in `format`) and `summary`; none when no checkpoint finds
    // them whole so far (also when a file is missing). Whole means every line complete and
    // every compressed block intact, so a file the system wrote only in part before a power
    // cut sends the run back to an earlier checkpoint.
    static std::optional<ResumePoint> find(const std::string& records, RecordFormat format,
                                           const std::string& summary,
                                           const std::vector<RunJournal::Checkpoint>& checkpoints);
};

}  // namespace tamsu_cli
