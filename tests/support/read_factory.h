#pragma once

#include "interfaces/read_holder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tamsu_test {

// Deterministic raw signal: `count` samples around a level, different for every seed.
std::vector<std::int16_t> make_samples(std::size_t count, std::uint32_t seed);

constexpr float k_daq_offset = 10.f;
constexpr float k_daq_scaling = 0.5f;

// A read as the engine expects it from the facade: tag, "read_id", "daq_offset",
// "daq_scaling", "duration", "model_stride" and the int16 raw signal.
interfaces::ReadHolder make_read(std::uint64_t tag, const std::vector<std::int16_t>& samples,
                                 unsigned long model_stride);

// Text and numeric datasets, read back (empty when the read has no such dataset).
std::string dataset_text(const interfaces::ReadHolder& read, interfaces::dataset slot);
template <typename T>
std::vector<T> dataset_values(const interfaces::ReadHolder& read, interfaces::dataset slot)
{
    const auto found = read.get_datasets().find(slot);
    if (found == read.get_datasets().end()) {
        return {};
    }
    const T* values = found->second.get_array<T>();
    return std::vector<T>(values, values + found->second.element_count);
}

}  // namespace tamsu_test
