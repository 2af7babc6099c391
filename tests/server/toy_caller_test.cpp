#include "server/catalogue.h"
#include "server/toy_caller.h"
#include "support/read_factory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

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
    ASSERT_EQ(read.sequence.size(), 1u);
    EXPECT_EQ(read.sequence[0], "ACGT"[(mix >> 11) % 4]);
    EXPECT_EQ(read.qstring[0], static_cast<char>(33 + 2 + (mix >> 17) % 30));
    EXPECT_FLOAT_EQ(read.median, (100.0f + 20.0f) * 0.5f);
    EXPECT_FLOAT_EQ(read.call_score, read.mean_qscore * config.qscore_scale + config.qscore_offset);

    const auto overridden = ToyCaller::call(samples, 0.0f, 1.0f, config, {},
                                            reference_server::ScalingOverride{80.0f, 9.0f});
    EXPECT_FLOAT_EQ(overridden.median, 80.0f);
    EXPECT_FLOAT_EQ(overridden.pt_median, 90.0f);
    // Shorter than one event: no bases.
    EXPECT_TRUE(ToyCaller::call(make_samples(4, 7), 0.0f, 1.0f, config, {}).sequence.empty());
}

TEST(ToyCallerTest, MovesTraceRunsAndStateDataMatchTheEvents)
{
    const auto& flipflop = *find_config("toy_flipflop_fast");
    const auto samples = make_samples(10003, 7);
    auto read = ToyCaller::call(samples, 0.0f, 1.0f, flipflop, {true, false});
    EXPECT_EQ(read.total_events, 10003u / flipflop.model_stride);
    EXPECT_EQ(read.trimmed_samples, 10003u % flipflop.model_stride);
    ASSERT_EQ(read.moves.size(), read.total_events);
    EXPECT_EQ(read.trace.size(), 8u * read.total_events);
    EXPECT_EQ(read.moves[0], 1);
    // Stays happen, so there are fewer bases than events.
    EXPECT_EQ(static_cast<std::size_t>(std::count(read.moves.begin(), read.moves.end(), 1)),
              read.sequence.size());
    EXPECT_LT(read.sequence.size(), read.total_events);
    // State data is requested or added later, the same either way.
    const auto with = ToyCaller::call(samples, 0.0f, 1.0f, flipflop, {true, true});
    ASSERT_EQ(with.state_data.size(), std::size_t{with.total_events} * flipflop.state_size);
    EXPECT_TRUE(read.state_data.empty());
    ToyCaller::add_state_data(read);
    EXPECT_EQ(read.state_data, with.state_data);

    const auto& runlength = *find_config("toy_runlength");
    const auto runs = ToyCaller::call(samples, 0.0f, 1.0f, runlength, {});
    EXPECT_TRUE(runs.trace.empty());
    ASSERT_EQ(runs.runs.size(), runs.sequence.size());
    EXPECT_EQ(std::accumulate(runs.runs.begin(), runs.runs.end(), 0u), runs.total_events);
}

TEST(ToyCallerTest, BlockRangesPartitionEventsAndBasesByRawBlock)
{
    const auto& config = *find_config("toy_modbase");  // stride 6
    const auto read = ToyCaller::call(make_samples(1000, 7), 0.0f, 1.0f, config, {});
    const std::vector<std::uint32_t> blocks = {300, 301, 5, 394};
    const auto ranges = ToyCaller::block_ranges(read, blocks);
    ASSERT_EQ(ranges.size(), blocks.size());
    EXPECT_EQ(ranges[0].event_end, 50u);
    EXPECT_EQ(ranges[1].event_end, 100u);  // sample 600 closes event 99
    EXPECT_EQ(ranges[2].event_end, 101u);
    EXPECT_EQ(ranges.back().event_end, read.total_events);
    EXPECT_EQ(ranges.back().base_end, read.sequence.size());
    std::uint32_t event = 0, base = 0;
    for (const auto& range : ranges) {
        EXPECT_EQ(range.event_begin, event);
        EXPECT_EQ(range.base_begin, base);
        for (auto b = range.base_begin; b < range.base_end; ++b) {
            EXPECT_LT(read.base_events[b], range.event_end);
        }
        event = range.event_end;
        base = range.base_end;
    }
}

}  // namespace
