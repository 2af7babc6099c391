#pragma once

#include <string>

namespace tamsu_cli {

// An output file that only gets its real name once it is known to be complete: everything is
// written to "<path>.partial", and commit() renames it. A file never committed stays partial.
class OutputFile {
public:
    // Removes a stale file at `path` (an older complete run must not pass for this one) and
    // creates the partial file. Throws std::runtime_error when either fails.
    explicit OutputFile(std::string path);

    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const std::string& text);
    // The open partial file, for writers of their own; owned by this object until commit().
    int descriptor() const { return m_descriptor; }
    // Flushes, closes and renames; throws std::runtime_error on a write or rename failure.
    void commit();

    const std::string& path() const { return m_path; }
    std::string partial_path() const { return m_path + ".partial"; }

private:
    std::string m_path;
    int m_descriptor = -1;
    int m_write_error = 0;  // the errno of the first failed write
};

}  // namespace tamsu_cli
