#pragma once

#include "tools/raw_read_source.h"

#include <memory>
#include <string>
#include <vector>

struct slow5_file;
struct slow5_rec;

namespace tamsu_cli {

// Reads raw reads one at a time from a SLOW5 (text) or BLOW5 (binary, any record and signal
// compression) file. Not thread-safe; one reader per thread.
class Slow5Reader : public RawReadSource {
public:
    // Throws InputError naming the file when it cannot be opened as SLOW5/BLOW5.
    explicit Slow5Reader(const std::string& path);
    ~Slow5Reader() override;
    Slow5Reader(const Slow5Reader&) = delete;
    Slow5Reader& operator=(const Slow5Reader&) = delete;

    // The next read (its scaling is range / digitisation), or false at the end of the file.
    // Throws InputError naming the file and the record for a record that cannot be decoded.
    bool next(RawRead& read) override;

    const std::string& name() const override { return m_name; }
    // The "run_id" attribute of each read group.
    std::vector<std::string> run_ids() const override { return m_run_ids; }

private:
    struct CloseFile {
        void operator()(slow5_file* file) const;
    };
    struct FreeRecord {
        void operator()(slow5_rec* record) const;
    };

    std::string m_name;
    std::unique_ptr<slow5_file, CloseFile> m_file;
    std::unique_ptr<slow5_rec, FreeRecord> m_record;
    std::vector<std::string> m_run_ids;
    std::size_t m_records_read = 0;
};

}  // namespace tamsu_cli
