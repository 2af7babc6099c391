#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tamsu_cli {

// One uncalled read as the tools exchange it: the signal in DAQ units, which the server turns
// into picoamperes as (sample + offset) * scaling.
struct RawRead {
    std::string read_id;
    float daq_offset = 0.0f;
    float daq_scaling = 1.0f;
    std::vector<std::int16_t> samples;
    std::string run_id;  // empty when the input names none
};

// What makes `id` unusable as a read id, or empty when nothing does: an id must not be empty
// nor hold control characters, which would break the line-based outputs that name it.
std::string read_id_problem(std::string_view id);

}  // namespace tamsu_cli
