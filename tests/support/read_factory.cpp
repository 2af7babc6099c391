#include "support/read_factory.h"

namespace tamsu_test {

std::vector<std::int16_t> make_samples(std::size_t count, std::uint32_t seed)
{
    std::vector<std::int16_t> samples(count);
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (auto& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = static_cast<std::int16_t>(400 + (state >> 20) % 200);
    }
    return samples;
}

interfaces::ReadHolder make_read(std::uint64_t tag, const std::vector<std::int16_t>& samples,
                                 unsigned long model_stride)
{
    interfaces::ReadHolder read;
    read.set_read_tag(tag);
    auto& metadata = read.get_metadata();
    metadata.insert("read_id", "read_" + std::to_string(tag));
    metadata.insert("daq_offset", k_daq_offset);
    metadata.insert("daq_scaling", k_daq_scaling);
    metadata.insert("duration", static_cast<unsigned long>(samples.size()));
    metadata.insert("model_stride", model_stride);
    auto copy = samples;
    read.get_datasets().emplace(interfaces::dataset::raw_data,
                                vask::data_wrappers::DataView(copy, true));
    return read;
}

std::string dataset_text(const interfaces::ReadHolder& read, interfaces::dataset slot)
{
    const auto found = read.get_datasets().find(slot);
    return found == read.get_datasets().end() ? std::string() : found->second.get_string();
}

}  // namespace tamsu_test
