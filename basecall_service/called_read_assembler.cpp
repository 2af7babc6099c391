#include "basecall_service/called_read_assembler.h"

#include "vask/data_wrappers/mat_view.h"

#include <algorithm>
#include <cstring>

namespace basecall_service {

namespace {

using vask::data_wrappers::DataView;
using vask::data_wrappers::MatView;

constexpr std::uint32_t k_trace_columns = 8;
// No model has state vectors anywhere near this wide; a larger claim is a broken reply.
constexpr std::uint32_t k_max_state_size = 1u << 16;

// Copies `count` elements of a wire vector to `out` at `offset`. The wire data may sit at any
// alignment inside the received buffer, hence the byte copy.
template <typename T, typename Wire>
void copy_elements(const flatbuffers::Vector<Wire>& in, std::size_t count, std::vector<T>& out,
                   std::size_t offset)
{
    static_assert(sizeof(T) == sizeof(Wire), "element widths differ");
    std::memcpy(out.data() + offset, in.Data(), count * sizeof(T));
}

// A contiguous row-major matrix view owning `storage`.
template <typename T>
DataView matrix_view(std::vector<T>& storage, std::size_t rows, std::size_t columns)
{
    MatView<T> shape;
    shape.view(storage.data(), rows, columns, std::max<std::size_t>(columns, 1), 1);
    return DataView(shape, storage);
}

template <typename T>
void add_vector(interfaces::Datasets& datasets, interfaces::dataset slot, std::vector<T>& values)
{
    if (!values.empty()) {
        datasets.insert_or_assign(slot, DataView(values, true));
    }
}

}  // namespace

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
            m_moves.resize(flipflop->moves() ? m_total_events : 0);
            m_trace.resize(flipflop->trace() ? std::size_t(k_trace_columns) * m_total_events : 0);
        } else if (runlength) {
            m_total_runs = runlength->total_runs();
            m_runs.resize(m_total_runs);
            m_run_values_0.resize(m_total_runs);
            m_run_values_1.resize(m_total_runs);
            m_run_values_2.resize(m_total_runs);
            m_run_values_3.resize(m_total_runs);
            m_run_values_4.resize(m_total_runs);
        }
    }
    if (const auto* base_mods = first.base_mods()) {
        m_has_base_mods = true;
        m_alphabet = base_mods->alphabet() ? base_mods->alphabet()->str() : std::string();
        m_long_names = base_mods->long_names() ? base_mods->long_names()->str() : std::string();
        // Not reserved from the announced sizes: the alphabet's length is bounded only by the
        // reply, so the probabilities grow with the bytes that actually arrive.
    }
    if (m_pull_state_data && first.state_data()) {
        m_state_data.resize(std::size_t(m_total_events) * m_state_size);
    }
    return true;
}

bool CalledReadAssembler::append(const tamsu_ipc::CalledBlockData& block)
{
    const auto events = block.block_events();
    if (events > m_total_events - m_event_offset) {
        return fail("Called blocks carry more events than the first block announced");
    }
    if (block.sequence()) {
        m_sequence.append(block.sequence()->str());
    }
    if (block.qstring()) {
        m_qstring.append(block.qstring()->str());
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
        m_base_mod_probs.insert(m_base_mod_probs.end(), probabilities->begin(),
                                probabilities->end());
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
    if (!m_moves.empty() && trace.moves()) {
        if (trace.moves()->size() < events) {
            return fail("Called block has fewer moves than events");
        }
        copy_elements(*trace.moves(), events, m_moves, m_event_offset);
    }
    if (!m_trace.empty() && trace.trace()) {
        if (trace.trace()->size() < std::size_t(k_trace_columns) * events) {
            return fail("Called block has fewer trace values than events");
        }
        copy_elements(*trace.trace(), std::size_t(k_trace_columns) * events, m_trace,
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
            copy_elements(*values, count, out, m_run_offset);
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
    if (m_state_data.empty() || !block.state_data()) {
        return true;
    }
    const std::size_t count = std::size_t(events) * m_state_size;
    if (block.state_data()->size() < count) {
        return fail("Called block has less state data than its events need");
    }
    copy_elements(*block.state_data(), count, m_state_data,
                  std::size_t(m_event_offset) * m_state_size);
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
    if (!m_trace.empty()) {
        datasets.insert_or_assign(dataset::trace,
                                  matrix_view(m_trace, m_total_events, k_trace_columns));
    }
    if (!m_state_data.empty()) {
        datasets.insert_or_assign(dataset::state_data,
                                  matrix_view(m_state_data, m_total_events, m_state_size));
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
