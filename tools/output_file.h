#pragma once

#include <cstdint>
#include <string>

namespace tamsu_cli {

// An output file that only gets its real name once it is known to be complete: everything is
// written to "<path>.partial", and commit() renames it. A file never committed stays partial; the
// file at `path` (an earlier run's) stays until then. For one thread at a time.
class OutputFile {
public:
    // Creates the partial file afresh, never through a link or into an existing file: a stale
    // partial file (or whatever else has its name) is unlinked first. Throws std::runtime_error
    // naming the file and the system's reason.
    explicit OutputFile(std::string path);
    // Goes on with the partial file an interrupted run left, cut back to its first `length`
    // bytes. Throws std::runtime_error naming the file and the system's reason.
    OutputFile(std::string path, std::uint64_t length);
    // Closes without renaming.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Buffered; throws std::runtime_error with the reason when writing fails.
    void write(const std::string& text);
    // The open partial file, owned here until close(): a writer of its own dups it and is
    // closed before this file is.
    int descriptor() const { return m_descriptor; }
    // Writes out what is buffered and returns the file's length: where it would resume.
    std::uint64_t length();
    // Writes what is buffered, syncs and closes; throws std::runtime_error with the reason.
    // Outputs that belong together are all closed before any is committed.
    void close();
    // Renames the closed file to its final name; throws std::runtime_error on failure.
    void commit();

    const std::string& path() const { return m_path; }
    const std::string& partial_path() const { return m_partial_path; }
    // The name the file has now.
    std::string current_path() const { return m_committed ? m_path : partial_path(); }

private:
    // Writes out the buffer; false, with errno set, when the system refused.
    bool write_buffer();
    void flush();
    // Throws `action` on the partial file with the reason errno gives.
    [[noreturn]] void fail(const char* action) const;

    std::string m_path;
    std::string m_partial_path;
    int m_descriptor = -1;
    std::string m_buffer;
    bool m_committed = false;
};

}  // namespace tamsu_cli
