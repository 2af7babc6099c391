#pragma once

#include "basecall_service/client_status.h"
#include "interfaces/read_holder.h"
#include "ipc_tools/tamsu_ipc_generated.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace basecall_service {

// Puts one called read back together from its called blocks: reserves the read-wide buffers from
// the first block, copies every block in at running offsets (each byte once, straight from the
// received buffer), and finally hands the buffers to the read as datasets without copying them
// again. A block that does not fit what the first block announced is refused with the reason in
// error_state(), never written out of bounds.
class CalledReadAssembler {
public:
    CalledReadAssembler(bool disable_events, bool pull_state_data);

    // Whether the first block carries everything a called read needs.
    bool check_first_block(const tamsu_ipc::CalledBlockData& first);
    // Sizes the buffers from the first block; the read's sample count bounds every size.
    bool prepare(const tamsu_ipc::CalledBlockData& first, std::uint64_t duration);
    // Copies one block (the first one included) at the current offsets.
    bool append(const tamsu_ipc::CalledBlockData& block);
    // Moves the assembled results into `read` as datasets.
    bool add_datasets(interfaces::ReadHolder& read);

    std::uint32_t total_runs() const { return m_total_runs; }
    const std::string& base_mod_alphabet() const { return m_alphabet; }
    const std::string& base_mod_long_names() const { return m_long_names; }
    const ErrorState& error_state() const { return m_error_state; }

private:
    // One read-wide result filled block by block at running offsets that never go back: reserved
    // once, so every element is written once, and zero wherever no block wrote.
    template <typename T>
    class Column {
    public:
        void expect(std::size_t size);
        bool expected() const { return m_size > 0; }
        // Writes `count` elements of `in` at `offset`, which is at or past every earlier write,
        // and `offset + count` within the expected size.
        void put(const flatbuffers::Vector<T>& in, std::size_t count, std::size_t offset);
        // The whole result, for handing over.
        std::vector<T>& finish();

    private:
        // Appends zeros up to `size`, which is at least the current size.
        void zero_fill_to(std::size_t size);

        std::vector<T> m_values;
        std::size_t m_size = 0;
    };

    bool fail(const std::string& reason);
    bool append_flipflop(const tamsu_ipc::FlipflopTraceData& trace, std::uint32_t events);
    bool append_runlength(const tamsu_ipc::RunlengthTraceData& runs);
    bool append_state_data(const tamsu_ipc::CalledBlockData& block, std::uint32_t events);

    bool m_disable_events;
    bool m_pull_state_data;
    ErrorState m_error_state;

    std::uint32_t m_total_events = 0;
    std::uint32_t m_state_size = 0;
    std::uint32_t m_sequence_length = 0;
    std::uint32_t m_total_runs = 0;
    std::uint32_t m_event_offset = 0;
    std::uint32_t m_run_offset = 0;

    std::string m_sequence;
    std::string m_qstring;
    Column<std::uint8_t> m_moves;
    Column<std::uint8_t> m_trace;
    Column<std::uint8_t> m_runs;
    Column<float> m_run_values_0;
    Column<float> m_run_values_1;
    Column<float> m_run_values_2;
    Column<std::uint32_t> m_run_values_3;
    Column<std::uint32_t> m_run_values_4;
    bool m_has_base_mods = false;
    std::string m_alphabet;
    std::string m_long_names;
    std::vector<std::uint8_t> m_base_mod_probs;
    Column<float> m_state_data;
};

}  // namespace basecall_service
