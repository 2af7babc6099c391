#include "basecall_service/called_read_assembler.h"

#include "vask/data_wrappers/mat_view.h"

#include <algorithm>

namespace basecall_service {

namespace {

using vask::data_wrappers::DataView;
using vask::data_wrappers::MatView;

constexpr std::uint32_t k_trace_columns = 8;
// No model has state vectors anywhere near this wide; a larger claim is a broken reply.
constexpr std::uint32_t k_max_state_size = 1u << 16;

// A contiguous row-major matrix view owning `storage`.
template <typename T>
DataView matrix_view(std::vector<T>& storage, std::size_t rows, std::size_t columns)
{
    MatView<T> shape;
    shape.view(storage.data(), rows, columns, std::max<std::size_t>(columns, 1), 1);
    return DataView(shape, storage);
}

template <typename Column>
void add_vector(interfaces::Datasets& datasets, interfaces::dataset slot, Column& column)
{
    if (column.expected()) {
        datasets.insert_or_assign(slot, DataView(column.finish(), true));
    }
}

}  // namespace

template <typename T>
void CalledReadAssembler::Column<T>::expect(std::size_t size)
{
    m_size = size;
    m_values.clear();
    m_values.reserve(size);
}

template <typename T>
void CalledReadAssembler::Column<T>::put(const flatbuffers::Vector<T>& in, std::size_t count,
                                         std::size_t offset)
{
    // Zero-fills only what blocks without this result left out; the reserve means no
    // reallocation, so the elements are copied once, straight from the received buffer.
    zero_fill_to(offset);
    m_values.insert(m_values.end(), in.data(), in.data() + count);
}

template <typename T>
std::vector<T>& CalledReadAssembler::Column<T>::finish()
{
    zero_fill_to(m_size);
    return m_values;
}

template <typename T>
void CalledReadAssembler::Column<T>::zero_fill_to(std::size_t size)
{
    // insert, not resize: in the fuzz build the out-of-line part of resize for byte vectors
    // comes from the fuzzing runtime, built without the vector annotations the rest of that
    // build uses, and growing into reserved room through it reads as a container overflow.
    m_values.insert(m_values.end(), size - m_values.size(), T{});
}

CalledReadAssembler::CalledReadAssembler(bool disable_events, bool pull_state_data)
        : m_disable_events(disable_events)
        , m_pull_state_data(pull_state_data)
{
}

bool CalledReadAssembler::fail(const std::string& reason)
{
    m_error_state = {ConnectionError::invalid_response, reason};
    return false;
}

bool CalledReadAssembler::check_first_block(const tamsu_ipc::CalledBlockData& first)
{
    if (!first.sequence() || !first.qstring() || !first.basecall_type() || !first.alignments()) {
        return fail("First called block lacks its sequence, qstring, basecall_type or alignments");
    }
    if (first.model_stride() == 0) {
        return fail("First called block has a model_stride of 0");
    }
    if (const auto* barcoding = first.barcoding()) {
        if (!barcoding->front() || !barcoding->rear() || !barcoding->mid_front() ||
            !barcoding->mid_rear() || !barcoding->lamp() || !barcoding->adapter()) {
            return fail("Barcoding results lack one of their six parts");
        }
    }
    return true;
}

bool CalledReadAssembler::prepare(const tamsu_ipc::CalledBlockData& first, std::uint64_t duration)
{
    // Buffers are sized from what the server announces: bound it by what the read can hold.
    const auto* runlength = first.trace_results_as_RunlengthTraceData();
    const std::uint64_t runs = runlength ? runlength->total_runs() : 0;
    if (first.total_events() > duration || first.sequence_length() > duration || runs > duration ||
        first.state_size() > k_max_state_size) {
        return fail("First called block announces more results than the read has samples");
    }
    m_total_events = first.total_events();
    m_state_size = first.state_size();
    m_sequence_length = first.sequence_length();
    if (!m_disable_events) {
        if (const auto* flipflop = first.trace_results_as_FlipflopTraceData()) {
            m_moves.expect(flipflop->moves() ? m_total_events : 0);
            m_trace.expect(flipflop->trace() ? std::size_t(k_trace_columns) * m_total_events : 0);
        } else if (runlength) {
            m_total_runs = runlength->total_runs();
            m_runs.expect(m_total_runs);
            m_run_values_0.expect(m_total_runs);
            m_run_values_1.expect(m_total_runs);
            m_run_values_2.expect(m_total_runs);
            m_run_values_3.expect(m_total_runs);
            m_run_values_4.expect(m_total_runs);
        }
    }
    if (const auto* base_mods = first.base_mods()) {
        m_has_base_mods = true;
        m_alphabet = base_mods->alphabet() ? base_mods->alphabet()->str() : std::string();
        m_long_names = base_mods->long_names() ? base_mods->long_names()->str() : std::string();
        // The alphabet's length is bounded only by the reply, so the room reserved up front is
        // capped at the raw signal's own size; beyond that the probabilities grow with the bytes
        // that actually arrive.
        m_base_mod_probs.reserve(
                std::min<std::uint64_t>(std::uint64_t(m_sequence_length) * m_alphabet.size(),
                                        sizeof(std::int16_t) * duration));
    }
    if (m_pull_state_data && first.state_data()) {
        m_state_data.expect(std::size_t(m_total_events) * m_state_size);
    }
    // Bounded by the read's samples above; a shorter qstring only leaves room unused.
    m_sequence.reserve(m_sequence_length);
    m_qstring.reserve(m_sequence_length);
    return true;
}

bool CalledReadAssembler::append(const tamsu_ipc::CalledBlockData& block)
{
    const auto events = block.block_events();
    if (events > m_total_events - m_event_offset) {
        return fail("Called blocks carry more events than the first block announced");
    }
    if (const auto* sequence = block.sequence()) {
        m_sequence.append(sequence->c_str(), sequence->size());
    }
    if (const auto* qstring = block.qstring()) {
        m_qstring.append(qstring->c_str(), qstring->size());
    }
    if (!m_disable_events) {
        const auto* flipflop = block.trace_results_as_FlipflopTraceData();
        if (flipflop && !append_flipflop(*flipflop, events)) {
            return false;
        }
        const auto* runlength = block.trace_results_as_RunlengthTraceData();
        if (runlength && !append_runlength(*runlength)) {
            return false;
        }
    }
    if (block.base_mods() && block.base_mods()->probabilities()) {
        const auto* probabilities = block.base_mods()->probabilities();
        m_base_mod_probs.insert(m_base_mod_probs.end(), probabilities->data(),
                                probabilities->data() + probabilities->size());
    }
    if (m_pull_state_data && !append_state_data(block, events)) {
        return false;
    }
    m_event_offset += events;
    return true;
}

bool CalledReadAssembler::append_flipflop(const tamsu_ipc::FlipflopTraceData& trace,
                                          std::uint32_t events)
{
    if (m_moves.expected() && trace.moves()) {
        if (trace.moves()->size() < events) {
            return fail("Called block has fewer moves than events");
        }
        m_moves.put(*trace.moves(), events, m_event_offset);
    }
    if (m_trace.expected() && trace.trace()) {
        if (trace.trace()->size() < std::size_t(k_trace_columns) * events) {
            return fail("Called block has fewer trace values than events");
        }
        m_trace.put(*trace.trace(), std::size_t(k_trace_columns) * events,
                    std::size_t(k_trace_columns) * m_event_offset);
    }
    return true;
}

bool CalledReadAssembler::append_runlength(const tamsu_ipc::RunlengthTraceData& runs)
{
    const std::size_t count = runs.runs() ? runs.runs()->size() : 0;
    if (count > m_total_runs - m_run_offset) {
        return fail("Called blocks carry more runs than the first block announced");
    }
    const auto fits = [count](const auto* values) { return !values || values->size() >= count; };
    if (!fits(runs.run_values_0()) || !fits(runs.run_values_1()) || !fits(runs.run_values_2()) ||
        !fits(runs.run_values_3()) || !fits(runs.run_values_4())) {
        return fail("Called block has fewer run values than runs");
    }
    const auto copy = [&](const auto* values, auto& out) {
        if (values) {
            out.put(*values, count, m_run_offset);
        }
    };
    copy(runs.runs(), m_runs);
    copy(runs.run_values_0(), m_run_values_0);
    copy(runs.run_values_1(), m_run_values_1);
    copy(runs.run_values_2(), m_run_values_2);
    copy(runs.run_values_3(), m_run_values_3);
    copy(runs.run_values_4(), m_run_values_4);
    m_run_offset += static_cast<std::uint32_t>(count);
    return true;
}

bool CalledReadAssembler::append_state_data(const tamsu_ipc::CalledBlockData& block,
                                            std::uint32_t events)
{
    if (!m_state_data.expected() || !block.state_data()) {
        return true;
    }
    const std::size_t count = std::size_t(events) * m_state_size;
    if (block.state_data()->size() < count) {
        return fail("Called block has less state data than its events need");
    }
    m_state_data.put(*block.state_data(), count, std::size_t(m_event_offset) * m_state_size);
    return true;
}

bool CalledReadAssembler::add_datasets(interfaces::ReadHolder& read)
{
    using interfaces::dataset;
    const std::size_t probability_count = std::size_t(m_sequence_length) * m_alphabet.size();
    if (m_has_base_mods && !m_base_mod_probs.empty() &&
        m_base_mod_probs.size() != probability_count) {
        return fail("Base modification probabilities do not match the sequence length");
    }
    auto& datasets = read.get_datasets();
    datasets.insert_or_assign(dataset::sequence, DataView(m_sequence, true));
    datasets.insert_or_assign(dataset::qstring, DataView(m_qstring, true));
    add_vector(datasets, dataset::moves, m_moves);
    if (m_trace.expected()) {
        datasets.insert_or_assign(dataset::trace,
                                  matrix_view(m_trace.finish(), m_total_events, k_trace_columns));
    }
    if (m_state_data.expected()) {
        datasets.insert_or_assign(dataset::state_data,
                                  matrix_view(m_state_data.finish(), m_total_events, m_state_size));
    }
    add_vector(datasets, dataset::run_lengths, m_runs);
    add_vector(datasets, dataset::run_values_0, m_run_values_0);
    add_vector(datasets, dataset::run_values_1, m_run_values_1);
    add_vector(datasets, dataset::run_values_2, m_run_values_2);
    add_vector(datasets, dataset::run_values_3, m_run_values_3);
    add_vector(datasets, dataset::run_values_4, m_run_values_4);
    if (!m_base_mod_probs.empty()) {
        datasets.insert_or_assign(
                dataset::base_mod_probs,
                matrix_view(m_base_mod_probs, m_sequence_length, m_alphabet.size()));
    }
    return true;
}

}  // namespace basecall_service
