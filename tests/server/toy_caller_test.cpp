#include "server/catalogue.h"
#include "server/toy_caller.h"
#include "support/read_factory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace {

using reference_server::find_config;
using reference_server::ToyCaller;
using tamsu_test::make_samples;

TEST(ToyCallerTest, FlipflopResultHasOneMoveAndEightTraceValuesPerEvent)
{
    const auto& config = *find_config("toy_flipflop_fast");
    const auto read = ToyCaller::call(make_samples(10003, 7), 0.0f, 1.0f, config, {});
    EXPECT_EQ(read.total_events, 10003u / config.model_stride);
    EXPECT_EQ(read.trimmed_samples, 10003u % config.model_stride);
    ASSERT_EQ(read.moves.size(), read.total_events);
    EXPECT_EQ(read.trace.size(), 8u * read.total_events);
    EXPECT_EQ(read.moves[0], 1);
    const auto moves = std::count(read.moves.begin(), read.moves.end(), 1);
    EXPECT_EQ(static_cast<std::size_t>(moves), read.sequence.size());
    // Stays happen, so there are fewer bases than events.
    EXPECT_LT(read.sequence.size(), read.total_events);
    EXPECT_EQ(read.qstring.size(), read.sequence.size());
    EXPECT_FLOAT_EQ(read.call_score, read.mean_qscore * config.qscore_scale + config.qscore_offset);
}

TEST(ToyCallerTest, FirstEventFollowsTheDocumentedFormula)
{
    const std::vector<std::int16_t> samples(5, 100);  // one event, sum 500
    const auto read = ToyCaller::call(samples, 20.0f, 0.5f, *find_config("toy_flipflop_fast"), {});
    const std::uint32_t mix = 500u * 2654435761u;
    ASSERT_EQ(read.sequence.size(), 1u);
    EXPECT_EQ(read.sequence[0], "ACGT"[(mix >> 11) % 4]);
    EXPECT_EQ(read.qstring[0], static_cast<char>(33 + 2 + (mix >> 17) % 30));
    EXPECT_FLOAT_EQ(read.median, (100.0f + 20.0f) * 0.5f);

    const auto overridden = ToyCaller::call(samples, 0.0f, 1.0f, *find_config("toy_flipflop_fast"),
                                            {}, reference_server::ScalingOverride{80.0f, 9.0f});
    EXPECT_FLOAT_EQ(overridden.median, 80.0f);
    EXPECT_FLOAT_EQ(overridden.pt_median, 90.0f);
}

TEST(ToyCallerTest, RunlengthResultHasOneRunPerBaseAndNoTrace)
{
    const auto& config = *find_config("toy_runlength");
    const auto read = ToyCaller::call(make_samples(8000, 7), 0.0f, 1.0f, config, {});
    EXPECT_TRUE(read.trace.empty());
    ASSERT_EQ(read.runs.size(), read.sequence.size());
    EXPECT_EQ(read.run_values_3, read.base_events);
    EXPECT_EQ(std::accumulate(read.runs.begin(), read.runs.end(), 0u), read.total_events);
    for (std::size_t i = 0; i < read.runs.size(); ++i) {
        EXPECT_EQ(read.run_values_4[i], read.runs[i] * config.model_stride);
    }
}

TEST(ToyCallerTest, ModbaseProbabilitiesFavourEachBasesOwnLetter)
{
    const auto& config = *find_config("toy_modbase");
    const auto read = ToyCaller::call(make_samples(3000, 7), 0.0f, 1.0f, config, {});
    const auto width = config.mod_alphabet.size();
    ASSERT_EQ(read.mod_probabilities.size(), read.sequence.size() * width);
    const auto m_column = config.mod_alphabet.find('m');
    for (std::size_t i = 0; i < read.sequence.size(); ++i) {
        const auto* row = &read.mod_probabilities[i * width];
        const auto own = config.mod_alphabet.find(read.sequence[i]);
        EXPECT_EQ(row[own] + (read.sequence[i] == 'C' ? row[m_column] : 0), 255) << i;
    }
}

TEST(ToyCallerTest, StateDataIsRequestedOrAddedLater)
{
    const auto& config = *find_config("toy_flipflop_fast");
    const auto samples = make_samples(1000, 7);
    auto without = ToyCaller::call(samples, 0.0f, 1.0f, config, {true, false});
    const auto with = ToyCaller::call(samples, 0.0f, 1.0f, config, {true, true});
    EXPECT_TRUE(without.state_data.empty());
    ASSERT_EQ(with.state_data.size(), std::size_t{with.total_events} * config.state_size);
    ToyCaller::add_state_data(without);
    EXPECT_EQ(without.state_data, with.state_data);

    const auto no_events = ToyCaller::call(samples, 0.0f, 1.0f, config, {false, false});
    EXPECT_TRUE(no_events.moves.empty());
    EXPECT_EQ(no_events.sequence, with.sequence);
}

TEST(ToyCallerTest, ReadsShorterThanOneEventHaveNoBases)
{
    for (const std::size_t count : {0u, 1u, 9u}) {
        const auto read = ToyCaller::call(make_samples(count, 7), 0.0f, 1.0f,
                                          *find_config("toy_runlength"), {true, true});
        EXPECT_TRUE(read.sequence.empty()) << count;
        EXPECT_EQ(read.trimmed_samples, count);
    }
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
    for (const auto& range :
         ToyCaller::block_ranges(ToyCaller::empty_result(1000, config), blocks)) {
        EXPECT_EQ(range.base_end, 0u);
    }
}

}  // namespace
