#pragma once

#include "vask/util/tamsu_export.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace interfaces {

// Slots of a read's datasets; a read holds at most one view per slot.
enum class dataset : std::uint32_t {
    raw_data = 0,  // int16 signal supplied by the host
    sequence = 6,
    qstring = 7,
    moves = 8,
    trace = 9,
    state_data = 10,
    run_lengths = 11,
    run_values_1 = 12,
    run_values_0 = 13,
    run_values_2 = 14,
    run_values_3 = 15,
    run_values_4 = 16,
    base_mod_probs = 17,
    align_results = 18,
};

// The enumerator's name. Both throw std::runtime_error for a value that names no slot.
TAMSU_EXPORT std::string to_string(dataset slot);
TAMSU_EXPORT std::ostream& operator<<(std::ostream& stream, dataset slot);

}  // namespace interfaces
