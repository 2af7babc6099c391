#pragma once

#include "tools/call_totals.h"
#include "tools/called_read.h"
#include "tools/output_file.h"
#include "tools/read_record_writer.h"
#include "tools/resume_point.h"
#include "tools/run_journal.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamsu_cli {

// The outputs of one basecall run in a directory: the called reads' records (reads.bam,
// reads.sam or reads.fastq) and summary.tsv. All of them stay partial until commit(), and an
// earlier run's files stay until then too. Every 64 KiB or so of output, the outputs are
// written out whole and their lengths noted in the run's journal, so that a run killed at any
// instant can be resumed from there. For one thread at a time.
class ResultWriter {
public:
    // Throws std::runtime_error when `input` ("-" for standard input) is, as a file, one that a
    // run writing to `directory` would replace or remove: reading it would destroy it.
    static void check_input(const std::string& directory, const std::string& input);

    // Where the interrupted run in `directory` can go on from; none when its outputs are
    // missing or not whole up to any of its checkpoints.
    static std::optional<ResumePoint>
    resume_point(const std::string& directory, RecordFormat format,
                 const std::vector<RunJournal::Checkpoint>& checkpoints);

    // Creates the directory when needed and starts afresh, with a journal of `settings`.
    // Throws std::runtime_error when an output cannot be created.
    ResultWriter(const std::string& directory, RecordFormat format, const RecordHeader& header,
                 const RunSettings& settings = {});
    // Goes on with the outputs of an interrupted run from `point`, its totals included.
    ResultWriter(const std::string& directory, RecordFormat format, const RecordHeader& header,
                 const ResumePoint& point);

    // After a failed write, counts the read but writes nothing more. Throws
    // std::invalid_argument for a base-modification alphabet the records cannot carry.
    void write(const CalledRead& read);
    const CallTotals& totals() const { return m_totals; }
    // Why a write failed, naming the file; empty while none has.
    const std::string& error() const { return m_error; }

    // Closes every output, then renames them all, removes the journal, then the outputs of an
    // earlier run that this one did not write. Throws std::runtime_error on the first failure; an
    // output not yet renamed then stays partial.
    void commit();
    // The outputs' names as they are now, records first: partial until committed.
    std::vector<std::string> paths() const;

private:
    ResultWriter(const std::string& directory, RecordFormat format, const RecordHeader& header,
                 const ResumePoint* point);
    // Writes the outputs out whole and notes their lengths in the journal.
    void checkpoint();
    std::vector<OutputFile*> files() const;
    void remove_earlier_outputs() const;

    std::string m_directory;
    std::unique_ptr<OutputFile> m_records;
    std::unique_ptr<ReadRecordWriter> m_record_writer;
    std::unique_ptr<OutputFile> m_summary;
    std::unique_ptr<RunJournal> m_journal;
    std::size_t m_unsaved_summary_bytes = 0;
    CallTotals m_totals;
    std::string m_error;
};

}  // namespace tamsu_cli
