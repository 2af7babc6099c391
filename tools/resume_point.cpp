#include "tools/resume_point.h"

#include "tools/tab_separated.h"

#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/hts_log.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace tamsu_cli {

namespace {

// Longest prefix of complete lines holding no NUL byte: what a text output had written whole.
// Read in pieces: a run's records may take gigabytes.
std::uint64_t whole_text_length(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> piece(1 << 20);
    std::uint64_t offset = 0;
    std::uint64_t whole = 0;
    while (file.read(piece.data(), static_cast<std::streamsize>(piece.size())) ||
           file.gcount() > 0) {
        const auto count = static_cast<std::size_t>(file.gcount());
        for (std::size_t i = 0; i < count; ++i) {
            if (piece[i] == '\0') {
                return whole;
            }
            whole = piece[i] == '\n' ? offset + i + 1 : whole;
        }
        offset += count;
    }
    return whole;
}

// The first `length` bytes of the file at `path`.
std::string prefix_of(const std::string& path, std::uint64_t length)
{
    std::ifstream file(path, std::ios::binary);
    std::string text(length, '\0');
    file.read(text.data(), static_cast<std::streamsize>(length));
    return text;
}

struct CloseBgzf {
    void operator()(BGZF* file) const { bgzf_close(file); }
};

// Longest prefix of intact compressed blocks (each checked against its own length and CRC).
std::uint64_t whole_bgzf_length(const std::string& path)
{
    // A file cut short is what is expected here, not worth a warning.
    hts_set_log_level(HTS_LOG_OFF);
    std::unique_ptr<BGZF, CloseBgzf> file(bgzf_open(path.c_str(), "r"));
    std::uint64_t whole = 0;
    while (file && bgzf_read_block(file.get()) == 0 && file->block_length > 0) {
        whole = static_cast<std::uint64_t>(htell(file->fp));
    }
    return whole;
}

// The totals and ids of the summary rows in `text` (header first).
void read_rows(const std::string& text, ResumePoint& point)
{
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        // id, status, samples, sequence length, mean quality, ...
        const auto fields = split_fields(line);
        const std::string id(fields.at(0));
        const bool called = fields.at(1) == "called";
        ++point.finished[id];
        auto& totals = point.totals;
        ++totals.reads;
        if (called) {
            ++totals.called;
            totals.bases += std::stoull(std::string(fields.at(3)));
            totals.qscore_sum += std::stod(std::string(fields.at(4)));
        } else {
            ++totals.not_called;
        }
    }
}

}  // namespace

std::optional<ResumePoint> ResumePoint::find(const std::string& records, RecordFormat format,
                                             const std::string& summary,
                                             const std::vector<RunJournal::Checkpoint>& checkpoints)
{
    if (!std::filesystem::exists(records) || !std::filesystem::exists(summary)) {
        return std::nullopt;
    }
    const auto records_whole =
            format == RecordFormat::bam ? whole_bgzf_length(records) : whole_text_length(records);
    const auto summary_whole = whole_text_length(summary);
    for (auto at = checkpoints.rbegin(); at != checkpoints.rend(); ++at) {
        if (at->records <= records_whole && at->summary <= summary_whole) {
            ResumePoint point;
            point.checkpoint = *at;
            read_rows(prefix_of(summary, at->summary), point);
            return point;
        }
    }
    return std::nullopt;
}

}  // namespace tamsu_cli
