#include "tools/result_writer.h"

#include "tools/record_formatter.h"

#include <filesystem>

namespace tamsu_cli {

ResultWriter::ResultWriter(const std::string& directory, bool with_sam,
                           const std::string& sam_header)
{
    const std::filesystem::path root(directory.empty() ? "." : directory);
    std::filesystem::create_directories(root);
    m_fastq = std::make_unique<OutputFile>((root / "reads.fastq").string());
    m_summary = std::make_unique<OutputFile>((root / "summary.tsv").string());
    m_summary->write(RecordFormatter::summary_header());
    if (with_sam) {
        m_sam = std::make_unique<OutputFile>((root / "reads.sam").string());
        m_sam->write(sam_header);
    }
}

void ResultWriter::write(const CalledRead& read)
{
    ++m_totals.reads;
    if (read.called) {
        ++m_totals.called;
        m_totals.bases += read.sequence.size();
        m_totals.qscore_sum += read.mean_qscore;
    } else {
        ++m_totals.not_called;
    }
    m_fastq->write(RecordFormatter::fastq(read));
    m_summary->write(RecordFormatter::summary_row(read));
    if (m_sam) {
        m_sam->write(RecordFormatter::sam_records(read));
    }
}

std::vector<OutputFile*> ResultWriter::files() const
{
    std::vector<OutputFile*> all{m_fastq.get(), m_summary.get()};
    if (m_sam) {
        all.push_back(m_sam.get());
    }
    return all;
}

void ResultWriter::commit()
{
    for (auto* file : files()) {
        file->commit();
    }
}

std::vector<std::string> ResultWriter::paths(bool committed) const
{
    std::vector<std::string> all;
    for (const auto* file : files()) {
        all.push_back(committed ? file->path() : file->partial_path());
    }
    return all;
}

}  // namespace tamsu_cli
