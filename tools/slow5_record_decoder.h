#pragma once

#include "tools/raw_read.h"
#include "tools/slow5_file.h"

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

struct slow5_rec;

namespace tamsu_cli {

// One record as the file holds it (compressed or not), before decoding.
struct Slow5RecordBytes {
    struct Free {
        void operator()(char* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<char, Free> data;
    std::size_t size = 0;
};

// Turns records of one SLOW5/BLOW5 file into raw reads. It keeps a file handle of its own for
// the library's decompression state, so decoders of one file can work on separate threads at
// once; each decoder belongs to one thread at a time.
class Slow5RecordDecoder {
public:
    // Opens `path` again (see open_slow5_file); `run_ids`: the run id of each read group.
    Slow5RecordDecoder(const std::string& path, std::vector<std::string> run_ids);
    ~Slow5RecordDecoder();
    Slow5RecordDecoder(const Slow5RecordDecoder&) = delete;
    Slow5RecordDecoder& operator=(const Slow5RecordDecoder&) = delete;

    // The read in record number `record` (from 1), whose scaling is range / digitisation.
    // Throws InputError naming the file and the record when it cannot be decoded or used.
    void decode(Slow5RecordBytes bytes, std::size_t record, RawRead& read);

    // The next record's bytes from `file`, or false at its end. Throws InputError naming the
    // file (`name`) and the record (`record`, from 1) when they cannot be read.
    static bool fetch(slow5_file& file, const std::string& name, std::size_t record,
                      Slow5RecordBytes& bytes);

private:
    struct FreeRecord {
        void operator()(slow5_rec* record) const;
    };

    std::string m_name;
    Slow5File m_file;
    std::unique_ptr<slow5_rec, FreeRecord> m_record;
    std::vector<std::string> m_run_ids;
};

}  // namespace tamsu_cli
