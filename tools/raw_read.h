#pragma once

#include <cstdint>
#include <string>
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

}  // namespace tamsu_cli
