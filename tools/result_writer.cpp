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
const std::vector<std::string>& known_outputs()
{
    static const std::vector<std::string> names{"reads.bam", "reads.sam", "reads.fastq",
                                                "summary.tsv"};
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

ResultWriter::ResultWriter(const std::string& directory, bool with_sam,
                           const std::string& sam_header)
        : m_directory(root_of(directory).string())
{
    std::filesystem::create_directories(m_directory);
    add("reads.fastq", &RecordFormatter::fastq, "");
    add("summary.tsv", &RecordFormatter::summary_row, RecordFormatter::summary_header());
    if (with_sam) {
        add("reads.sam", &RecordFormatter::sam_records, sam_header);
    }
}

void ResultWriter::add(const std::string& name, Format format, const std::string& header)
{
    auto file = std::make_unique<OutputFile>((std::filesystem::path(m_directory) / name).string());
    file->write(header);
    m_outputs.push_back({std::move(file), format});
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
        for (auto& output : m_outputs) {
            output.file->write(output.format(read));
        }
    } catch (const std::runtime_error& error) {
        m_error = error.what();
    }
}

void ResultWriter::commit()
{
    for (auto& output : m_outputs) {
        output.file->close();
    }
    for (auto& output : m_outputs) {
        output.file->commit();
    }
    remove_earlier_outputs();
}

void ResultWriter::remove_earlier_outputs() const
{
    for (const auto& name : known_outputs()) {
        const auto path = (std::filesystem::path(m_directory) / name).string();
        const bool written =
                std::any_of(m_outputs.begin(), m_outputs.end(),
                            [&](const Output& output) { return output.file->path() == path; });
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
    for (const auto& output : m_outputs) {
        all.push_back(output.file->current_path());
    }
    return all;
}

}  // namespace tamsu_cli
