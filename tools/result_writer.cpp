#include "tools/result_writer.h"

#include "tools/record_formatter.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace tamsu_cli {

namespace {

// Every name a run may write; a committed run removes the ones it did not write, so that
// nothing of an earlier run passes for part of this one.
const char* const k_summary = "summary.tsv";
constexpr std::size_t k_checkpoint_bytes = 1 << 16;

const std::vector<std::string>& known_outputs()
{
    static const std::vector<std::string> names{ReadRecordWriter::file_name(RecordFormat::bam),
                                                ReadRecordWriter::file_name(RecordFormat::sam),
                                                ReadRecordWriter::file_name(RecordFormat::fastq),
                                                k_summary};
    return names;
}

std::filesystem::path root_of(const std::string& directory)
{
    return directory.empty() ? "." : directory;
}

}  // namespace

void ResultWriter::check_input(const std::string& directory, const std::string& input)
{
    const std::string source = input == "-" ? "/dev/stdin" : input;
    for (const auto& name : known_outputs()) {
        for (const auto& output :
             {root_of(directory) / name, root_of(directory) / (name + ".partial")}) {
            std::error_code absent;
            if (std::filesystem::equivalent(source, output, absent)) {
                throw std::runtime_error("refusing to read " + input + ": it is the output " +
                                         output.string() + ", which this run would replace");
            }
        }
    }
}

std::optional<ResumePoint>
ResultWriter::resume_point(const std::string& directory, RecordFormat format,
                           const std::vector<RunJournal::Checkpoint>& checkpoints)
{
    const auto root = root_of(directory);
    return ResumePoint::find((root / (ReadRecordWriter::file_name(format) + ".partial")).string(),
                             format, (root / (std::string(k_summary) + ".partial")).string(),
                             checkpoints);
}

ResultWriter::ResultWriter(const std::string& directory, RecordFormat format,
                           const RecordHeader& header, const RunSettings& settings)
        : ResultWriter(directory, format, header, nullptr)
{
    m_summary->write(RecordFormatter::summary_header());
    m_journal = std::make_unique<RunJournal>(RunJournal::path_in(m_directory), settings);
    checkpoint();
}

ResultWriter::ResultWriter(const std::string& directory, RecordFormat format,
                           const RecordHeader& header, const ResumePoint& point)
        : ResultWriter(directory, format, header, &point)
{
    m_totals = point.totals;
    m_journal = std::make_unique<RunJournal>(RunJournal::path_in(m_directory));
}

ResultWriter::ResultWriter(const std::string& directory, RecordFormat format,
                           const RecordHeader& header, const ResumePoint* point)
        : m_directory(root_of(directory).string())
{
    std::filesystem::create_directories(m_directory);
    const std::filesystem::path root(m_directory);
    const auto records = (root / ReadRecordWriter::file_name(format)).string();
    const auto summary = (root / k_summary).string();
    m_records = point ? std::make_unique<OutputFile>(records, point->checkpoint.records)
                      : std::make_unique<OutputFile>(records);
    m_record_writer = std::make_unique<ReadRecordWriter>(
            m_records->descriptor(), format, m_records->partial_path(), header, point != nullptr);
    m_summary = point ? std::make_unique<OutputFile>(summary, point->checkpoint.summary)
                      : std::make_unique<OutputFile>(summary);
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
    if (!m_error.empty()) {
        return;
    }
    try {
        m_record_writer->write(read);
        const auto row = RecordFormatter::summary_row(read);
        m_summary->write(row);
        m_unsaved_summary_bytes += row.size();
        // About a compressed block of records: what a kill may cost besides the reads out.
        if (m_record_writer->unflushed_bytes() + m_unsaved_summary_bytes >= k_checkpoint_bytes) {
            checkpoint();
        }
    } catch (const std::runtime_error& error) {
        m_error = error.what();
    }
}

void ResultWriter::checkpoint()
{
    m_record_writer->flush();
    m_journal->record({m_records->length(), m_summary->length()});
    m_unsaved_summary_bytes = 0;
}

std::vector<OutputFile*> ResultWriter::files() const
{
    return {m_records.get(), m_summary.get()};
}

void ResultWriter::commit()
{
    // The record writer writes through a duplicate of the record file's descriptor.
    m_record_writer->close();
    for (auto* file : files()) {
        file->close();
    }
    for (auto* file : files()) {
        file->commit();
    }
    m_journal->remove();
    remove_earlier_outputs();
}

void ResultWriter::remove_earlier_outputs() const
{
    const auto outputs = files();
    for (const auto& name : known_outputs()) {
        const auto path = (std::filesystem::path(m_directory) / name).string();
        const bool written =
                std::any_of(outputs.begin(), outputs.end(),
                            [&](const OutputFile* file) { return file->path() == path; });
        for (const auto& stale : {path, path + ".partial"}) {
            std::error_code error;
            if (!written && !std::filesystem::remove(stale, error) && error) {
                throw std::runtime_error("cannot remove " + stale +
                                         " of an earlier run: " + error.message());
            }
        }
    }
}

std::vector<std::string> ResultWriter::paths() const
{
    std::vector<std::string> all;
    for (const auto* file : files()) {
        all.push_back(file->current_path());
    }
    return all;
}

}  // namespace tamsu_cli
