#include "tools/slow5_record_decoder.h"

#include "tools/input_error.h"

#include <slow5/slow5.h>

namespace tamsu_cli {

namespace {

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

InputError record_problem(const std::string& name, std::size_t record, const std::string& problem)
{
    return InputError(name + ": record " + std::to_string(record) + ": " + problem);
}

}  // namespace

void Slow5RecordDecoder::FreeRecord::operator()(slow5_rec* record) const
{
    slow5_rec_free(record);
}

Slow5RecordDecoder::Slow5RecordDecoder(const std::string& path, std::vector<std::string> run_ids)
        : m_name(path)
        , m_file(open_slow5_file(path))
        , m_run_ids(std::move(run_ids))
{
}

Slow5RecordDecoder::~Slow5RecordDecoder() = default;

bool Slow5RecordDecoder::fetch(slow5_file& file, const std::string& name, std::size_t record,
                               Slow5RecordBytes& bytes)
{
    char* data = nullptr;
    const int status = slow5_get_next_bytes(&data, &bytes.size, &file);
    bytes.data.reset(data);
    if (status >= 0) {
        return true;
    }
    // Every failure returns -1, the same number as the end of the file; the cause is here.
    if (slow5_errno == SLOW5_ERR_EOF) {
        return false;
    }
    throw record_problem(name, record, record_error(slow5_errno));
}

void Slow5RecordDecoder::decode(Slow5RecordBytes bytes, std::size_t record, RawRead& read)
{
    // The library may replace the bytes with their decompressed form; what it leaves is ours.
    char* data = bytes.data.release();
    slow5_rec* decoded = m_record.release();
    const int status = slow5_decode(&data, &bytes.size, &decoded, m_file.get());
    bytes.data.reset(data);
    m_record.reset(decoded);
    if (status < 0) {
        throw record_problem(m_name, record, record_error(slow5_errno));
    }
    if (!(decoded->digitisation > 0.0)) {
        throw record_problem(m_name, record, "digitisation must be positive");
    }
    read.read_id.assign(decoded->read_id, decoded->read_id_len);
    const auto id_problem = read_id_problem(read.read_id);
    if (!id_problem.empty()) {
        throw record_problem(m_name, record, id_problem);
    }
    read.run_id = decoded->read_group < m_run_ids.size() ? m_run_ids[decoded->read_group] : "";
    read.daq_offset = static_cast<float>(decoded->offset);
    read.daq_scaling = static_cast<float>(decoded->range / decoded->digitisation);
    read.samples.assign(decoded->raw_signal, decoded->raw_signal + decoded->len_raw_signal);
}

}  // namespace tamsu_cli
