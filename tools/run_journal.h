#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tamsu_cli {

// What shapes a run's outputs, as named values in a fixed order: the options that change what
// is written and every input file with its size and modification time. Two runs with equal
// settings write the same reads.
using RunSettings = std::vector<std::pair<std::string, std::string>>;

// Why a run with `now` may not continue one with `before`, naming the first setting that
// differs; empty when they agree.
std::string first_difference(const RunSettings& before, const RunSettings& now);

// A run's journal in its output directory: its settings, then a checkpoint whenever the outputs
// were written out whole up to some length. Lines are appended only, so a run killed at any
// instant leaves at worst a torn last line, which reading ignores. For one thread at a time.
class RunJournal {
public:
    // The outputs' lengths in bytes at a moment when every read before it was written whole.
    struct Checkpoint {
        std::uint64_t records = 0;
        std::uint64_t summary = 0;
    };
    struct Contents {
        RunSettings settings;
        std::vector<Checkpoint> checkpoints;  // in the order they were made
    };

    // "resume.journal" in `directory`.
    static std::string path_in(const std::string& directory);

    // Starts a journal afresh at `path` (replacing any) with `settings`, on disk before it
    // returns. Throws std::runtime_error naming the file and the reason.
    RunJournal(std::string path, const RunSettings& settings);
    // Goes on with the journal at `path`, written by an earlier run.
    explicit RunJournal(std::string path);
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // The journal at `path`; none when there is no file or its settings are not whole.
    static std::optional<Contents> read(const std::string& path);

    // Appends a checkpoint; not synced: a kill leaves what was written, and whoever reads the
    // journal after a power loss checks the outputs against it.
    void record(const Checkpoint& checkpoint);
    // Once the outputs are committed: the run is complete and has nothing to resume.
    void remove();

private:
    void open(int flags);
    void append(const std::string& text);
    [[noreturn]] void fail(const char* action) const;

    std::string m_path;
    int m_descriptor = -1;
};

}  // namespace tamsu_cli
