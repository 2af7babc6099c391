#include "tools/run_journal.h"

#include "tools/tab_separated.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tamsu_cli {

namespace {

const char* const k_first_line = "tamsu resume journal 1";
const char* const k_settings_end = "begin";
const char* const k_checkpoint = "checkpoint";

// Settings hold paths, which may hold any byte but NUL; a line holds no tab or line break.
std::string escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return out;
}

std::string unescaped(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<std::uint64_t> length_of(std::string_view text)
{
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(std::string(text));
}

// A checkpoint line as written; none for a torn or damaged one.
std::optional<RunJournal::Checkpoint> checkpoint_of(const std::string& line)
{
    const auto fields = split_fields(line);
    if (fields.size() != 3 || fields[0] != k_checkpoint) {
        return std::nullopt;
    }
    const auto records = length_of(fields[1]);
    const auto summary = length_of(fields[2]);
    if (!records || !summary) {
        return std::nullopt;
    }
    return RunJournal::Checkpoint{*records, *summary};
}

}  // namespace

std::string first_difference(const RunSettings& before, const RunSettings& now)
{
    for (std::size_t i = 0; i < std::max(before.size(), now.size()); ++i) {
        if (i >= before.size()) {
            return now[i].first + " " + now[i].second + " was not part of the interrupted run";
        }
        if (i >= now.size()) {
            return before[i].first + " " + before[i].second + " is missing";
        }
        if (before[i] != now[i]) {
            if (before[i].first != now[i].first) {
                return before[i].first + " " + before[i].second + " is now " + now[i].first + " " +
                       now[i].second;
            }
            return before[i].first + " was '" + before[i].second + "', now '" + now[i].second + "'";
        }
    }
    return {};
}

std::string RunJournal::path_in(const std::string& directory)
{
    return (std::filesystem::path(directory.empty() ? "." : directory) / "resume.journal").string();
}

RunJournal::RunJournal(std::string path, const RunSettings& settings)
        : m_path(std::move(path))
{
    // As for the outputs: a planted link is removed, not written through.
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT) {
        fail("cannot replace ");
    }
    open(O_CREAT | O_EXCL);
    std::string text = std::string(k_first_line) + "\n";
    for (const auto& [name, value] : settings) {
        text += "setting\t" + escaped(name) + "\t" + escaped(value) + "\n";
    }
    append(text + k_settings_end + "\n");
    // Checkpoints may be lost to a power cut, the settings may not: a run without them cannot
    // be resumed.
    if (::fsync(m_descriptor) != 0) {
        fail("cannot write ");
    }
}

RunJournal::RunJournal(std::string path)
        : m_path(std::move(path))
{
    open(0);
}

RunJournal::~RunJournal()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
}

void RunJournal::open(int flags)
{
    m_descriptor =
            ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | flags, 0666);
    if (m_descriptor < 0) {
        fail("cannot open ");
    }
}

std::optional<RunJournal::Contents> RunJournal::read(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string line;
    if (!std::getline(file, line) || line != k_first_line) {
        return std::nullopt;
    }
    Contents contents;
    bool settings_whole = false;
    while (!settings_whole && std::getline(file, line) && !file.eof()) {
        const auto fields = split_fields(line);
        settings_whole = line == k_settings_end;
        if (!settings_whole && (fields.size() != 3 || fields[0] != "setting")) {
            return std::nullopt;
        }
        if (!settings_whole) {
            contents.settings.emplace_back(unescaped(fields[1]), unescaped(fields[2]));
        }
    }
    if (!settings_whole) {
        return std::nullopt;
    }
    // A line is whole only with its line break: the last may be torn.
    while (std::getline(file, line) && !file.eof()) {
        if (const auto checkpoint = checkpoint_of(line)) {
            contents.checkpoints.push_back(*checkpoint);
        }
    }
    return contents;
}

void RunJournal::record(const Checkpoint& checkpoint)
{
    append(std::string(k_checkpoint) + "\t" + std::to_string(checkpoint.records) + "\t" +
           std::to_string(checkpoint.summary) + "\n");
}

void RunJournal::remove()
{
    ::close(m_descriptor);
    m_descriptor = -1;
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT) {
        fail("cannot remove ");
    }
}

void RunJournal::append(const std::string& text)
{
    // One write per line keeps lines whole unless the process dies inside the call.
    std::size_t done = 0;
    while (done < text.size()) {
        const auto written = ::write(m_descriptor, text.data() + done, text.size() - done);
        if (written < 0 && errno != EINTR) {
            fail("cannot write ");
        }
        done += written < 0 ? 0 : static_cast<std::size_t>(written);
    }
}

void RunJournal::fail(const char* action) const
{
    const int error = errno;
    throw std::runtime_error(action + m_path + ": " + std::strerror(error));
}

}  // namespace tamsu_cli
