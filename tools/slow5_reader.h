#pragma once

#include "tools/parallel_slow5_decoder.h"
#include "tools/raw_read_source.h"
#include "tools/slow5_file.h"

#include <memory>
#include <string>
#include <vector>

namespace tamsu_cli {

// Reads raw reads one at a time from a SLOW5 (text) or BLOW5 (binary, any record and signal
// compression) file, decoding its records on several threads (see ParallelSlow5Decoder). Not
// thread-safe; one reader per thread.
class Slow5Reader : public RawReadSource {
public:
    // Throws InputError naming the file when it cannot be opened as SLOW5/BLOW5. Reads only
    // the header until next() is called; `threads` decode the records from then on.
    explicit Slow5Reader(const std::string& path,
                         std::size_t threads = ParallelSlow5Decoder::default_threads());

    // The next read (its scaling is range / digitisation), or false at the end of the file.
    // Throws InputError naming the file and the record for a record that cannot be decoded.
    bool next(RawRead& read) override;

    const std::string& name() const override { return m_name; }
    // The "run_id" attribute of each read group.
    std::vector<std::string> run_ids() const override { return m_run_ids; }

private:
    std::string m_name;
    std::size_t m_threads;
    Slow5File m_file;
    std::vector<std::string> m_run_ids;
    // Reads m_file; declared after it so that it stops first.
    std::unique_ptr<ParallelSlow5Decoder> m_decoder;
};

}  // namespace tamsu_cli
