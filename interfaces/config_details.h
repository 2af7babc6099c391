#pragma once

#include <cstdint>
#include <string>

namespace interfaces {

// Details of the basecalling configuration a client is connected with, as the server reports
// them. A plain value type.
struct ConfigDetails {
    float qscore_offset = 0.f;
    float qscore_scale = 1.f;
    float temp_weight = 0.f;
    float temp_bias = 0.f;
    std::uint64_t model_stride = 1;
    std::uint64_t label_length = 1;
    std::string config_name;
    std::string model_type;
    float beam_cut = 100.f;         // not reported by the server
    std::uint64_t beam_width = 40;  // not reported by the server
};

}  // namespace interfaces
