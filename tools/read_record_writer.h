#pragma once

#include "tools/called_read.h"

#include <memory>
#include <string>
#include <vector>

struct htsFile;
struct sam_hdr_t;
struct bam1_t;

namespace tamsu_cli {

enum class RecordFormat { bam, sam, fastq };

// What the header of a record file says besides the format version.
struct RecordHeader {
    std::string index_header;  // the alignment index's SAM header; only its @SQ lines are kept
    std::vector<std::string> read_groups;  // one @RG line each
    std::string version;                   // of this program, in @PG
    std::string command_line;              // in @PG
};

// Writes called reads as BAM, SAM or FASTQ records through htslib: unmapped records (flag 4),
// or the server's alignment records when a read has them (not in FASTQ), with the results as
// tags. Not thread-safe. Errors throw std::runtime_error naming the file and the reason.
class ReadRecordWriter {
public:
    // Writes the header to a duplicate of `descriptor`, which the caller keeps owning, unless
    // `appending` to a file that has it already (aligned records are read against it).
    ReadRecordWriter(int descriptor, RecordFormat format, std::string name,
                     const RecordHeader& header, bool appending = false);
    ~ReadRecordWriter();
    ReadRecordWriter(const ReadRecordWriter&) = delete;
    ReadRecordWriter& operator=(const ReadRecordWriter&) = delete;

    // Nothing for a read that was not called. Throws std::invalid_argument for a
    // base-modification alphabet it cannot map.
    void write(const CalledRead& read);
    // Hands every record written so far to the system, ending the compressed block in hand,
    // so the file is whole up to its present length.
    void flush();
    // About how many bytes of records were written since the last flush, before compression.
    std::size_t unflushed_bytes() const { return m_unflushed_bytes; }
    // Flushes and closes the file; the writer takes no more records.
    void close();

    // "reads.bam", "reads.sam" or "reads.fastq".
    static std::string file_name(RecordFormat format);

private:
    struct CloseFile {
        void operator()(htsFile* file) const;
    };
    struct FreeHeader {
        void operator()(sam_hdr_t* header) const;
    };
    struct FreeRecord {
        void operator()(bam1_t* record) const;
    };

    void set_unmapped(const CalledRead& read);
    void set_alignment(const std::string& line);
    void add_tags(const CalledRead& read);
    void add_text_tag(const char* tag, const std::string& value);
    void check_tag(int status) const;
    void put_record();
    [[noreturn]] void fail(const std::string& what) const;

    RecordFormat m_format;
    std::string m_name;
    std::unique_ptr<htsFile, CloseFile> m_file;
    std::unique_ptr<sam_hdr_t, FreeHeader> m_header;
    std::unique_ptr<bam1_t, FreeRecord> m_record;
    std::size_t m_unflushed_bytes = 0;
};

}  // namespace tamsu_cli
