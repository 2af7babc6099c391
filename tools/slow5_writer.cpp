#include "tools/slow5_writer.h"

#include "tools/raw_read_source.h"

#include <slow5/slow5.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace tamsu_cli {

namespace {

// A power of two, so that range = scaling * digitisation and back are exact in floating point.
constexpr double k_digitisation = 8192;
constexpr double k_sampling_rate = 4000;

// The library frees the record's fields with free(), so they are taken from malloc.
slow5_rec_t* make_record(const RawRead& read)
{
    slow5_rec_t* record = slow5_rec_init();
    if (record == nullptr) {
        return nullptr;
    }
    record->read_id = static_cast<char*>(std::malloc(read.read_id.size() + 1));
    record->raw_signal = static_cast<std::int16_t*>(
            std::malloc(std::max<std::size_t>(1, read.samples.size()) * sizeof(std::int16_t)));
    if (record->read_id == nullptr || record->raw_signal == nullptr) {
        slow5_rec_free(record);
        return nullptr;
    }
    std::copy(read.read_id.begin(), read.read_id.end(), record->read_id);
    record->read_id[read.read_id.size()] = '\0';
    record->read_id_len = static_cast<slow5_rid_len_t>(read.read_id.size());
    record->digitisation = k_digitisation;
    record->offset = read.daq_offset;
    record->range = static_cast<double>(read.daq_scaling) * k_digitisation;
    record->sampling_rate = k_sampling_rate;
    record->len_raw_signal = read.samples.size();
    std::copy(read.samples.begin(), read.samples.end(), record->raw_signal);
    return record;
}

}  // namespace

void Slow5Writer::CloseFile::operator()(slow5_file* file) const
{
    slow5_close(file);
}

Slow5Writer::Slow5Writer(const std::string& path)
        : m_path(path)
        , m_file(slow5_open(path.c_str(), "w"))
{
    if (!m_file ||
        (signal_format(path) == SignalFormat::blow5 &&
         slow5_set_press(m_file.get(), SLOW5_COMPRESS_ZSTD, SLOW5_COMPRESS_SVB_ZD) != 0) ||
        slow5_hdr_write(m_file.get()) <= 0) {
        throw std::runtime_error("cannot create " + path);
    }
}

Slow5Writer::~Slow5Writer() = default;

void Slow5Writer::write(const RawRead& read)
{
    slow5_rec_t* record = make_record(read);
    if (record == nullptr) {
        throw std::runtime_error("cannot write " + m_path + ": out of memory");
    }
    const bool written = slow5_write(record, m_file.get()) > 0;
    slow5_rec_free(record);
    if (!written) {
        throw std::runtime_error("cannot write " + m_path);
    }
}

void Slow5Writer::close()
{
    if (slow5_close(m_file.release()) != 0) {
        throw std::runtime_error("cannot write " + m_path);
    }
}

}  // namespace tamsu_cli
