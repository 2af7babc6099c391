#include "tools/read_simulator.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace tamsu_cli {

namespace {

// Raw levels in DAQ units; with the offsets and scalings below they land at 60 to 130 pA.
constexpr std::int64_t k_lowest_level = 350;
constexpr std::int64_t k_highest_level = 750;
constexpr std::uint64_t k_shortest_dwell = 3;
constexpr std::uint64_t k_longest_dwell = 14;

}  // namespace

ReadSimulator::ReadSimulator(std::uint64_t seed, std::size_t min_length, std::size_t max_length)
        : m_engine(seed)
        , m_min_length(min_length)
        , m_max_length(max_length)
{
    if (min_length == 0 || min_length > max_length) {
        throw std::invalid_argument("read lengths need 1 <= minimum <= maximum");
    }
}

std::uint64_t ReadSimulator::uniform(std::uint64_t low, std::uint64_t high)
{
    const std::uint64_t span = high - low + 1;
    // The modulo bias is far below anything a test signal could show.
    return span == 0 ? m_engine() : low + m_engine() % span;
}

std::string ReadSimulator::next_id()
{
    const auto high = m_engine();
    const auto low = m_engine();
    char id[40];
    std::snprintf(id, sizeof(id), "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                  static_cast<unsigned>(high >> 16 & 0xffff), static_cast<unsigned>(high & 0xffff),
                  static_cast<unsigned>(low >> 48),
                  static_cast<unsigned long long>(low & 0xffffffffffffULL));
    return id;
}

RawRead ReadSimulator::next()
{
    RawRead read;
    read.read_id = next_id();
    read.daq_offset = static_cast<float>(uniform(0, 40)) / 2.0f;
    read.daq_scaling = 0.15f + static_cast<float>(uniform(0, 50)) / 1000.0f;
    const auto length = static_cast<std::size_t>(uniform(m_min_length, m_max_length));
    read.samples.reserve(length);
    while (read.samples.size() < length) {
        const auto level = static_cast<std::int64_t>(uniform(k_lowest_level, k_highest_level));
        const auto dwell = std::min<std::size_t>(uniform(k_shortest_dwell, k_longest_dwell),
                                                 length - read.samples.size());
        for (std::size_t i = 0; i < dwell; ++i) {
            // The sum of four uniforms: roughly normal noise with a spread of about 8.
            std::int64_t noise = 0;
            for (int k = 0; k < 4; ++k) {
                noise += static_cast<std::int64_t>(uniform(0, 28));
            }
            read.samples.push_back(static_cast<std::int16_t>(level + noise - 56));
        }
    }
    return read;
}

}  // namespace tamsu_cli
