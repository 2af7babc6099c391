#include "server/catalogue.h"
#include "server/toy_caller.h"
#include "support/read_factory.h"

#include <gtest/gtest.h>

namespace {

using reference_server::find_config;
using reference_server::ToyCaller;
using tamsu_test::make_samples;

TEST(ToyCallerTest, FirstEventFollowsTheDocumentedFormula)
{
    const std::vector<std::int16_t> samples(5, 100);  // one event, sum 500
    const auto& config = *find_config("toy_flipflop_fast");
    const auto read = ToyCaller::call(samples, 20.0f, 0.5f, config, {});
    const std::uint32_t mix = 500u * 2654435761u;
    EXPECT_EQ(read.sequence + read.qstring,
              std::string({"ACGT"[(mix >> 11) % 4], static_cast<char>(33 + 2 + (mix >> 17) % 30)}));
    EXPECT_FLOAT_EQ(read.median, (100.0f + 20.0f) * 0.5f);
    EXPECT_FLOAT_EQ(read.call_score, read.mean_qscore * config.qscore_scale + config.qscore_offset);
    const auto overridden = ToyCaller::call(samples, 0.0f, 1.0f, config, {},
                                            reference_server::ScalingOverride{80.0f, 9.0f});
    EXPECT_FLOAT_EQ(overridden.median, 80.0f);
    EXPECT_FLOAT_EQ(overridden.pt_median, 90.0f);
    // Shorter than one event: no bases.
    EXPECT_TRUE(ToyCaller::call(make_samples(4, 7), 0.0f, 1.0f, config, {}).sequence.empty());
}

// Block boundaries that fall inside an event (sample 600 closes event 99), and a block shorter
// than one.
TEST(ToyCallerTest, BlockRangesPartitionEventsAndBasesByRawBlock)
{
    const auto read = ToyCaller::call(make_samples(1000, 7), 0.0f, 1.0f,
                                      *find_config("toy_modbase"), {});  // stride 6
    const auto ranges = ToyCaller::block_ranges(read, {300, 301, 5, 394});
    std::vector<std::uint32_t> ends;
    std::uint32_t event = 0, base = 0;
    for (const auto& range : ranges) {
        EXPECT_EQ(range.event_begin, event);
        EXPECT_EQ(range.base_begin, base);
        for (auto b = range.base_begin; b < range.base_end; ++b) {
            EXPECT_LT(read.base_events[b], range.event_end);
        }
        ends.push_back(event = range.event_end);
        base = range.base_end;
    }
    EXPECT_EQ(ends, std::vector<std::uint32_t>({50, 100, 101, read.total_events}));
    EXPECT_EQ(base, read.sequence.size());
}

}  // namespace
