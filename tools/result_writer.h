#pragma once

#include "tools/called_read.h"
#include "tools/output_file.h"
#include "tools/read_record_writer.h"

#include <memory>
#include <string>
#include <vector>

namespace tamsu_cli {

// Totals over the reads written so far.
struct CallTotals {
    unsigned long reads = 0;
    unsigned long called = 0;
    unsigned long not_called = 0;
    unsigned long long bases = 0;
    double qscore_sum = 0.0;  // of the called reads' mean qualities

    double mean_qscore() const { return called == 0 ? 0.0 : qscore_sum / called; }
};

// The outputs of one basecall run in a directory: the called reads' records (reads.bam,
// reads.sam or reads.fastq) and summary.tsv. All of them stay partial until commit(), and an
// earlier run's files stay until then too. For one thread at a time.
class ResultWriter {
public:
    // Throws std::runtime_error when `input` ("-" for standard input) is, as a file, one that a
    // run writing to `directory` would replace or remove: reading it would destroy it.
    static void check_input(const std::string& directory, const std::string& input);

    // Creates the directory when needed. Throws std::runtime_error when an output cannot be
    // created.
    ResultWriter(const std::string& directory, RecordFormat format, const RecordHeader& header);

    // After a failed write, counts the read but writes nothing more. Throws
    // std::invalid_argument for a base-modification alphabet the records cannot carry.
    void write(const CalledRead& read);
    const CallTotals& totals() const { return m_totals; }
    // Why a write failed, naming the file; empty while none has.
    const std::string& error() const { return m_error; }

    // Closes every output, then renames them all, then removes the outputs of an earlier run
    // that this one did not write. Throws std::runtime_error on the first failure; an output
    // not yet renamed then stays partial.
    void commit();
    // The outputs' names as they are now, records first: partial until committed.
    std::vector<std::string> paths() const;

private:
    std::vector<OutputFile*> files() const;
    void remove_earlier_outputs() const;

    std::string m_directory;
    std::unique_ptr<OutputFile> m_records;
    std::unique_ptr<ReadRecordWriter> m_record_writer;
    std::unique_ptr<OutputFile> m_summary;
    CallTotals m_totals;
    std::string m_error;
};

}  // namespace tamsu_cli
