#include "tools/result_writer.h"

#include "tools/record_formatter.h"

#include <filesystem>

namespace tamsu_cli {

ResultWriter::ResultWriter(const std::string& directory, RecordFormat format,
                           const RecordHeader& header)
{
    const std::filesystem::path root(directory.empty() ? "." : directory);
    std::filesystem::create_directories(root);
    m_records = std::make_unique<OutputFile>((root / ReadRecordWriter::file_name(format)).string());
    m_record_writer = std::make_unique<ReadRecordWriter>(m_records->descriptor(), format,
                                                         m_records->partial_path(), header);
    m_summary = std::make_unique<OutputFile>((root / "summary.tsv").string());
    m_summary->write(RecordFormatter::summary_header());
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
    m_record_writer->write(read);
    m_summary->write(RecordFormatter::summary_row(read));
}

std::vector<OutputFile*> ResultWriter::files() const
{
    return {m_records.get(), m_summary.get()};
}

void ResultWriter::commit()
{
    m_record_writer->close();
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
