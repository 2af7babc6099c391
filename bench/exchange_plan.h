#pragma once

#include <cstddef>
#include <vector>

namespace bench {

// One request and its reply, by size in bytes.
struct Exchange {
    std::size_t request_bytes = 0;
    std::size_t reply_bytes = 0;
};

// The exchanges one read costs a client when the server does no calling: each raw block sent and
// acknowledged, then each called block fetched. Sizes are those of the library's own messages
// for a configuration with model stride 5 and the default block of 50,000 strides.
std::vector<Exchange> plan_read(std::size_t samples);

// Samples in one raw block with the default block size and model stride.
constexpr std::size_t k_samples_per_block = 250000;

}  // namespace bench
