#include "interfaces/dataset.h"

#include <ostream>
#include <stdexcept>

namespace interfaces {

std::string to_string(dataset slot)
{
    switch (slot) {
    case dataset::raw_data:
        return "raw_data";
    case dataset::sequence:
        return "sequence";
    case dataset::qstring:
        return "qstring";
    case dataset::moves:
        return "moves";
    case dataset::trace:
        return "trace";
    case dataset::state_data:
        return "state_data";
    case dataset::run_lengths:
        return "run_lengths";
    case dataset::run_values_1:
        return "run_values_1";
    case dataset::run_values_0:
        return "run_values_0";
    case dataset::run_values_2:
        return "run_values_2";
    case dataset::run_values_3:
        return "run_values_3";
    case dataset::run_values_4:
        return "run_values_4";
    case dataset::base_mod_probs:
        return "base_mod_probs";
    case dataset::align_results:
        return "align_results";
    }
    throw std::runtime_error("unrecognised dataset value");
}

std::ostream& operator<<(std::ostream& stream, dataset slot)
{
    return stream << to_string(slot);
}

}  // namespace interfaces
