#include "tools/resume_point.h"

#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/hts_log.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace tamsu_cli {

namespace {

// Longest prefix of complete lines holding no NUL byte: what a text output had written whole.
std::uint64_t whole_text_length(const std::string& text)
{
    const auto end = std::min(text.find('\0'), text.size());
    const auto last_break = text.rfind('\n', end == 0 ? 0 : end - 1);
    return last_break == std::string::npos || end == 0 ? 0 : last_break + 1;
}

std::optional<std::string> contents_of(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(file), {});
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
        std::istringstream cells(line);
        std::string id, status, samples, length, quality;
        std::getline(cells, id, '\t');
        std::getline(cells, status, '\t');
        std::getline(cells, samples, '\t');
        std::getline(cells, length, '\t');
        std::getline(cells, quality, '\t');
        ++point.finished[id];
        auto& totals = point.totals;
        ++totals.reads;
        if (status == "called") {
            ++totals.called;
            totals.bases += std::stoull(length);
            totals.qscore_sum += std::stod(quality);
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
    const auto summary_text = contents_of(summary);
    if (!summary_text) {
        return std::nullopt;
    }
    std::uint64_t records_whole = 0;
    if (format == RecordFormat::bam) {
        records_whole = whole_bgzf_length(records);
    } else if (const auto text = contents_of(records)) {
        records_whole = whole_text_length(*text);
    }
    const auto summary_whole = whole_text_length(*summary_text);
    for (auto at = checkpoints.rbegin(); at != checkpoints.rend(); ++at) {
        if (at->records <= records_whole && at->summary <= summary_whole) {
            ResumePoint point;
            point.checkpoint = *at;
            read_rows(summary_text->substr(0, at->summary), point);
            return point;
        }
    }
    return std::nullopt;
}

}  // namespace tamsu_cli
