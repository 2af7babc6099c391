#pragma once

#include "tools/raw_read.h"

#include <cstdint>
#include <random>

namespace tamsu_cli {

// Synthetic raw reads that look like a pore signal: a staircase of levels, each held for a few
// samples, with noise on top. The same seed gives the same reads on every platform (the engine's
// output is fixed by the standard; the distributions are our own for that reason).
class ReadSimulator {
public:
    // Read lengths in samples, uniform in [min_length, max_length]; needs 1 <= min <= max.
    ReadSimulator(std::uint64_t seed, std::size_t min_length, std::size_t max_length);

    RawRead next();

private:
    // Uniform in [low, high].
    std::uint64_t uniform(std::uint64_t low, std::uint64_t high);
    std::string next_id();

    std::mt19937_64 m_engine;
    std::size_t m_min_length;
    std::size_t m_max_length;
};

}  // namespace tamsu_cli
