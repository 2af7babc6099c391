#pragma once

#include "tools/raw_read.h"

#include <memory>
#include <string>

struct slow5_file;

namespace tamsu_cli {

// Writes raw reads to a new BLOW5 file (zstd records, svb-zd signal) or, for a ".slow5" name, a
// SLOW5 text file. Not thread-safe.
class Slow5Writer {
public:
    // Throws std::runtime_error naming the file when it cannot be created.
    explicit Slow5Writer(const std::string& path);
    ~Slow5Writer();
    Slow5Writer(const Slow5Writer&) = delete;
    Slow5Writer& operator=(const Slow5Writer&) = delete;

    // Throws std::runtime_error naming the file when the record cannot be written.
    void write(const RawRead& read);
    // Writes the end of the file; throws std::runtime_error when that fails.
    void close();

private:
    struct CloseFile {
        void operator()(slow5_file* file) const;
    };

    std::string m_path;
    std::unique_ptr<slow5_file, CloseFile> m_file;
};

}  // namespace tamsu_cli
