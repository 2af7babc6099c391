#include "tools/read_record_writer.h"

#include "tools/modification_tags.h"

#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/sam.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace tamsu_cli {

namespace {

// A header field ends at a tab and a line at a line break: texts from the command line or the
// input (file names, run ids) keep neither, nor any other control character.
std::string header_text(std::string text)
{
    for (auto& c : text) {
        c = static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
    }
    return text;
}

struct FormatNames {
    const char* open_mode;
    const char* file_name;
};

FormatNames names_of(RecordFormat format)
{
    switch (format) {
    case RecordFormat::sam:
        return {"w", "reads.sam"};
    case RecordFormat::fastq:
        return {"wf", "reads.fastq"};
    default:
        return {"wb", "reads.bam"};
    }
}

// Every tag this writer sets, for the FASTQ comment.
constexpr const char* k_fastq_tags = "RG,qs,bk,bc,la,lt,MM,ML,mv,tr";

std::string header_text(const RecordHeader& header)
{
    std::string text = "@HD\tVN:1.6\tSO:unknown\n";
    std::istringstream index(header.index_header);
    for (std::string line; std::getline(index, line);) {
        if (line.rfind("@SQ\t", 0) == 0) {
            text += line + "\n";
        }
    }
    for (const auto& group : header.read_groups) {
        text += "@RG\tID:" + header_text(group) + "\n";
    }
    return text + "@PG\tID:tamsu\tPN:tamsu\tVN:" + header.version +
           "\tCL:" + header_text(header.command_line) + "\n";
}

// The writer reports every failure itself, naming the file.
bool quiet_library()
{
    hts_set_log_level(HTS_LOG_OFF);
    return true;
}

std::string reason()
{
    return errno == 0 ? "unknown error" : std::strerror(errno);
}

}  // namespace

void ReadRecordWriter::CloseFile::operator()(htsFile* file) const
{
    hts_close(file);
}

void ReadRecordWriter::FreeHeader::operator()(sam_hdr_t* header) const
{
    sam_hdr_destroy(header);
}

void ReadRecordWriter::FreeRecord::operator()(bam1_t* record) const
{
    bam_destroy1(record);
}

ReadRecordWriter::ReadRecordWriter(int descriptor, RecordFormat format, std::string name,
                                   const RecordHeader& header, bool appending)
        : m_format(format)
        , m_name(std::move(name))
        , m_record(bam_init1())
{
    static const bool quiet = quiet_library();
    (void)quiet;
    const auto text = header_text(header);
    m_header.reset(sam_hdr_parse(text.size(), text.c_str()));
    if (!m_header || !m_record) {
        throw std::runtime_error("cannot make the header of " + m_name);
    }
    // The stream owns the duplicate, so the caller's descriptor stays open after close().
    const int own = ::dup(descriptor);
    hFILE* stream = own < 0 ? nullptr : hdopen(own, "w");
    if (stream == nullptr) {
        if (own >= 0) {
            ::close(own);
        }
        fail("open");
    }
    m_file.reset(hts_hopen(stream, m_name.c_str(), names_of(format).open_mode));
    if (!m_file) {
        hclose_abruptly(stream);
        fail("open");
    }
    if (format == RecordFormat::fastq && hts_set_opt(m_file.get(), FASTQ_OPT_AUX, k_fastq_tags)) {
        fail("open");
    }
    if (!appending && sam_hdr_write(m_file.get(), m_header.get()) < 0) {
        fail("write");
    }
}

ReadRecordWriter::~ReadRecordWriter() = default;

std::string ReadRecordWriter::file_name(RecordFormat format)
{
    return names_of(format).file_name;
}

void ReadRecordWriter::write(const CalledRead& read)
{
    if (!read.called) {
        return;
    }
    if (read.sam_records.empty() || m_format == RecordFormat::fastq) {
        set_unmapped(read);
        add_tags(read);
        put_record();
        return;
    }
    for (const auto& line : read.sam_records) {
        set_alignment(line);
        add_tags(read);
        put_record();
    }
}

void ReadRecordWriter::flush()
{
    errno = 0;
    // hts_flush ends the compressed block but leaves it in the stream's own buffer.
    hFILE* stream = m_format == RecordFormat::bam ? m_file->fp.bgzf->fp : m_file->fp.hfile;
    if (hts_flush(m_file.get()) != 0 || hflush(stream) != 0) {
        fail("write");
    }
    m_unflushed_bytes = 0;
}

void ReadRecordWriter::close()
{
    errno = 0;
    if (hts_close(m_file.release()) != 0) {
        fail("write");
    }
}

void ReadRecordWriter::set_unmapped(const CalledRead& read)
{
    std::string qualities;
    for (const char quality : read.qstring) {
        qualities += static_cast<char>(quality - 33);
    }
    const bool with_qualities = qualities.size() == read.sequence.size();
    if (bam_set1(m_record.get(), read.read_id.size(), read.read_id.c_str(), BAM_FUNMAP, -1, -1, 0,
                 0, nullptr, -1, -1, 0, read.sequence.size(), read.sequence.c_str(),
                 with_qualities ? qualities.c_str() : nullptr, 0) < 0) {
        throw std::runtime_error(m_name + ": cannot make a record of read " + read.read_id);
    }
}

void ReadRecordWriter::set_alignment(const std::string& line)
{
    std::string text = line;
    kstring_t record{text.size(), text.size() + 1, &text[0]};
    if (sam_parse1(&record, m_header.get(), m_record.get()) < 0) {
        throw std::runtime_error(m_name +
                                 ": the server's alignment record cannot be read: " + line);
    }
}

void ReadRecordWriter::add_tags(const CalledRead& read)
{
    if (!read.run_id.empty()) {
        add_text_tag("RG", header_text(read.run_id));
    }
    float quality = read.mean_qscore;
    check_tag(bam_aux_append(m_record.get(), "qs", 'f', sizeof(quality),
                             reinterpret_cast<std::uint8_t*>(&quality)));
    add_text_tag("bk", read.barcode_kit);
    add_text_tag("bc", read.barcode_arrangement);
    add_text_tag("la", read.lamp_barcode);
    add_text_tag("lt", read.lamp_target);
    // Secondary records may leave the sequence out; positions would not fit them.
    const bool whole = m_record->core.l_qseq == static_cast<std::int32_t>(read.sequence.size());
    if (whole && !read.mod_probabilities.empty()) {
        const ModificationTags tags(ModificationTags::codes(read.mod_alphabet, read.mod_long_names),
                                    read.sequence, read.mod_probabilities,
                                    read.mod_alphabet.size());
        add_text_tag("MM", tags.mm());
        auto ml = tags.ml();
        check_tag(bam_aux_update_array(m_record.get(), "ML", 'C', ml.size(), ml.data()));
    }
    if (!read.moves.empty()) {
        // The stride first, then one move per stride of signal.
        std::vector<std::int8_t> moves{static_cast<std::int8_t>(read.model_stride)};
        moves.insert(moves.end(), read.moves.begin(), read.moves.end());
        check_tag(bam_aux_update_array(m_record.get(), "mv", 'c', moves.size(), moves.data()));
    }
    if (!read.trace.empty()) {
        auto trace = read.trace;
        check_tag(bam_aux_update_array(m_record.get(), "tr", 'C', trace.size(), trace.data()));
    }
}

void ReadRecordWriter::add_text_tag(const char* tag, const std::string& value)
{
    if (!value.empty()) {
        check_tag(bam_aux_append(m_record.get(), tag, 'Z', static_cast<int>(value.size() + 1),
                                 reinterpret_cast<const std::uint8_t*>(value.c_str())));
    }
}

void ReadRecordWriter::check_tag(int status) const
{
    if (status < 0) {
        throw std::runtime_error(m_name + ": cannot add a tag to a record: " + reason());
    }
}

void ReadRecordWriter::put_record()
{
    errno = 0;
    if (sam_write1(m_file.get(), m_header.get(), m_record.get()) < 0) {
        fail("write");
    }
    m_unflushed_bytes += sizeof(bam1_core_t) + static_cast<std::size_t>(m_record->l_data);
}

void ReadRecordWriter::fail(const std::string& what) const
{
    throw std::runtime_error("cannot " + what + " " + m_name + ": " + reason());
}

}  // namespace tamsu_cli
