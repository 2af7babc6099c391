#include "tools/slow5_reader.h"

#include "tools/input_error.h"

#include <slow5/slow5.h>

#include <cstddef>
#include <cstdint>

// Debian's libslow5 0.7.0 decodes svb-zd signal with its own copy of streamvbyte in mind: it
// gives zigzag_delta_decode an output of n int16 samples, while the system libstreamvbyte writes
// n int32 values there (twice the buffer, a heap overflow). The encoder side widens samples to
// int32 itself and matches the system library. Defining the decoder here, with the layout
// libslow5 expects and default visibility (so the dynamic linker sees it), takes precedence over
// the system one in every program that reads signal.
extern "C" __attribute__((visibility("default"))) void zigzag_delta_decode(const std::uint32_t* in,
                                                                           std::int16_t* out,
                                                                           std::size_t n,
                                                                           std::int32_t previous)
{
    for (std::size_t i = 0; i < n; ++i) {
        const auto delta = static_cast<std::int32_t>((in[i] >> 1) ^ (0u - (in[i] & 1u)));
        previous += delta;
        out[i] = static_cast<std::int16_t>(previous);
    }
}

namespace tamsu_cli {

namespace {

// The library prints its own diagnostics to standard error unless told not to; the reader
// reports every failure itself, naming the file.
bool quiet_library()
{
    slow5_set_log_level(SLOW5_LOG_OFF);
    slow5_set_exit_condition(SLOW5_EXIT_OFF);
    return true;
}

std::string record_error(int code)
{
    switch (code) {
    case SLOW5_ERR_TRUNC:
        return "the file is truncated";
    case SLOW5_ERR_PRESS:
        return "it cannot be decompressed";
    case SLOW5_ERR_RECPARSE:
        return "it cannot be parsed";
    case SLOW5_ERR_IO:
        return "it cannot be read";
    default:
        return "error " + std::to_string(code);
    }
}

}  // namespace

void Slow5Reader::CloseFile::operator()(slow5_file* file) const
{
    slow5_close(file);
}

void Slow5Reader::FreeRecord::operator()(slow5_rec* record) const
{
    slow5_rec_free(record);
}

Slow5Reader::Slow5Reader(const std::string& path)
        : m_name(path)
{
    static const bool quiet = quiet_library();
    (void)quiet;
    m_file.reset(slow5_open(path.c_str(), "r"));
    if (!m_file) {
        throw InputError("cannot read " + path + ": not a SLOW5 or BLOW5 file");
    }
}

Slow5Reader::~Slow5Reader() = default;

bool Slow5Reader::next(RawRead& read)
{
    slow5_rec* record = m_record.release();
    const int status = slow5_get_next(&record, m_file.get());
    m_record.reset(record);
    if (status == SLOW5_ERR_EOF) {
        return false;
    }
    if (status < 0) {
        throw InputError(m_name + ": record " + std::to_string(m_records_read + 1) + ": " +
                         record_error(status));
    }
    ++m_records_read;
    if (!(record->digitisation > 0.0)) {
        throw InputError(m_name + ": record " + std::to_string(m_records_read) +
                         ": digitisation must be positive");
    }
    read.read_id.assign(record->read_id, record->read_id_len);
    const auto id_problem = read_id_problem(read.read_id);
    if (!id_problem.empty()) {
        throw InputError(m_name + ": record " + std::to_string(m_records_read) + ": " + id_problem);
    }
    read.daq_offset = static_cast<float>(record->offset);
    read.daq_scaling = static_cast<float>(record->range / record->digitisation);
    read.samples.assign(record->raw_signal, record->raw_signal + record->len_raw_signal);
    return true;
}

}  // namespace tamsu_cli
