#include "exchange_plan.h"

#include <algorithm>

namespace bench {

namespace {

// Measured on the library's messages: the envelope of a raw block (connection id, read id,
// scaling, tag), the acknowledgement, the called-block request and a called block with no bases.
constexpr std::size_t k_raw_block_envelope = 144;
constexpr std::size_t k_acknowledgement = 60;
constexpr std::size_t k_called_block_request = 88;
constexpr std::size_t k_empty_called_block = 288;

}  // namespace

std::vector<Exchange> plan_read(std::size_t samples)
{
    std::vector<Exchange> plan;
    for (std::size_t offset = 0; offset < samples; offset += k_samples_per_block) {
        const auto count = std::min(k_samples_per_block, samples - offset);
        plan.push_back({count * sizeof(short) + k_raw_block_envelope, k_acknowledgement});
    }
    const auto blocks = plan.size();
    for (std::size_t block = 0; block < blocks; ++block) {
        plan.push_back({k_called_block_request, k_empty_called_block});
    }
    return plan;
}

}  // namespace bench
