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
// reads.sam or reads.fastq) and summary.tsv. All of them stay partial until commit().
class ResultWriter {
public:
    // Creates the directory when needed.
    ResultWriter(const std::string& directory, RecordFormat format, const RecordHeader& header);

    void write(const CalledRead& read);
    const CallTotals& totals() const { return m_totals; }

    void commit();
    // Final names, or the partial ones before commit().
    std::vector<std::string> paths(bool committed) const;

private:
    std::vector<OutputFile*> files() const;

    std::unique_ptr<OutputFile> m_records;
    std::unique_ptr<OutputFile> m_summary;
    std::unique_ptr<ReadRecordWriter> m_record_writer;
    CallTotals m_totals;
};

}  // namespace tamsu_cli
