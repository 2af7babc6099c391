#include "server/catalogue.h"
#include "server/toy_caller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace {

using reference_server::BlockRange;
using reference_server::CalledRead;
using reference_server::find_config;
using reference_server::ToyCaller;

std::vector<std::int16_t> noisy_samples(std::size_t count)
{
    std::vector<std::int16_t> samples(count);
    std::uint32_t state = 7;
    for (auto& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = static_cast<std::int16_t>(200 + (state >> 20) % 600);
    }
    return samples;
}

TEST(ToyCallerTest, FlipflopResultHasOneMoveAndEightTraceValuesPerEvent)
{
    const auto& config = *find_config("toy_flipflop_fast");
    const auto samples = noisy_samples(10003);
    const auto read = ToyCaller::call(samples, 0.0f, 1.0f, config, {});
    EXPECT_EQ(read.total_events, 10003u / config.model_stride);
    EXPECT_EQ(read.trimmed_samples, 10003u % config.model_stride);
    ASSERT_EQ(read.moves.size(), read.total_events);
    EXPECT_EQ(read.trace.size(), 8u * read.total_events);
    EXPECT_EQ(read.moves[0], 1);
    const auto moves = std::count(read.moves.begin(), read.moves.end(), 1);
    EXPECT_EQ(static_cast<std::size_t>(moves), read.sequence.size());
    // Stays happen, so there are fewer bases than events.
    EXPECT_LT(read.sequence.size(), read.total_events);
    EXPECT_GT(read.sequence.size(), read.total_events / 2);
    EXPECT_EQ(read.qstring.size(), read.sequence.size());
    EXPECT_EQ(read.sequence.find_first_not_of("ACGT"), std::string::npos);
    EXPECT_TRUE(read.runs.empty());
    EXPECT_TRUE(read.mod_probabilities.empty());
    EXPECT_TRUE(read.state_data.empty());
    EXPECT_FLOAT_EQ(read.stay_prob + read.step_prob, 1.0f);
    EXPECT_FLOAT_EQ(read.call_score, read.mean_qscore * config.qscore_scale + config.qscore_offset);
    for (std::size_t e = 0; e < read.total_events; ++e) {
        const auto* row = &read.trace[e * 8];
        EXPECT_GE(*std::max_element(row, row + 8), 200) << e;
    }
}

TEST(ToyCallerTest, FirstEventFollowsTheDocumentedFormula)
{
    const auto& config = *find_config("toy_flipflop_fast");
    const std::vector<std::int16_t> samples(5, 100);  // one event, sum 500
    const auto read = ToyCaller::call(samples, 20.0f, 0.5f, config, {});
    const std::uint32_t mix = 500u * 2654435761u;
    ASSERT_EQ(read.sequence.size(), 1u);
    EXPECT_EQ(read.sequence[0], "ACGT"[(mix >> 11) % 4]);
    EXPECT_EQ(read.qstring[0], static_cast<char>(33 + 2 + (mix >> 17) % 30));
    EXPECT_FLOAT_EQ(read.median, (100.0f + 20.0f) * 0.5f);
    EXPECT_FLOAT_EQ(read.med_abs_dev, 0.0f);
    EXPECT_FALSE(read.pt_detect_success);
}

TEST(ToyCallerTest, ResultIsAPureFunctionOfItsInputs)
{
    const auto& config = *find_config("toy_modbase");
    const auto samples = noisy_samples(6000);
    const auto first = ToyCaller::call(samples, 3.0f, 0.25f, config, {true, true});
    const auto second = ToyCaller::call(samples, 3.0f, 0.25f, config, {true, true});
    EXPECT_EQ(first.sequence, second.sequence);
    EXPECT_EQ(first.trace, second.trace);
    EXPECT_EQ(first.state_data, second.state_data);
    EXPECT_EQ(first.mod_probabilities, second.mod_probabilities);
    // Scaling changes levels, not bases.
    const auto rescaled = ToyCaller::call(samples, 0.0f, 1.0f, config, {true, true});
    EXPECT_EQ(rescaled.sequence, first.sequence);
    EXPECT_NE(rescaled.median, first.median);
}

TEST(ToyCallerTest, ScalingOverrideReplacesMedianAndMad)
{
    const auto read =
            ToyCaller::call(noisy_samples(500), 0.0f, 1.0f, *find_config("toy_flipflop_fast"), {},
                            reference_server::ScalingOverride{80.0f, 9.0f});
    EXPECT_FLOAT_EQ(read.median, 80.0f);
    EXPECT_FLOAT_EQ(read.med_abs_dev, 9.0f);
    EXPECT_FLOAT_EQ(read.pt_median, 90.0f);
}

TEST(ToyCallerTest, RunlengthResultHasOneRunPerBaseAndNoTrace)
{
    const auto& config = *find_config("toy_runlength");
    const auto read = ToyCaller::call(noisy_samples(8000), 0.0f, 1.0f, config, {});
    EXPECT_TRUE(read.moves.empty());
    EXPECT_TRUE(read.trace.empty());
    ASSERT_EQ(read.runs.size(), read.sequence.size());
    for (const auto* values : {&read.run_values_0, &read.run_values_1, &read.run_values_2}) {
        EXPECT_EQ(values->size(), read.runs.size());
    }
    EXPECT_EQ(read.run_values_3, read.base_events);
    const auto events = std::accumulate(read.runs.begin(), read.runs.end(), 0u);
    EXPECT_EQ(events, read.total_events);
    for (std::size_t i = 0; i < read.runs.size(); ++i) {
        EXPECT_EQ(read.run_values_4[i], read.runs[i] * config.model_stride);
    }
}

TEST(ToyCallerTest, ModbaseProbabilitiesFavourEachBasesOwnLetter)
{
    const auto& config = *find_config("toy_modbase");
    const auto read = ToyCaller::call(noisy_samples(3000), 0.0f, 1.0f, config, {});
    const auto width = config.mod_alphabet.size();
    ASSERT_EQ(read.mod_probabilities.size(), read.sequence.size() * width);
    const auto m_column = config.mod_alphabet.find('m');
    for (std::size_t i = 0; i < read.sequence.size(); ++i) {
        const auto* row = &read.mod_probabilities[i * width];
        const auto own = config.mod_alphabet.find(read.sequence[i]);
        if (read.sequence[i] == 'C') {
            EXPECT_EQ(row[own] + row[m_column], 255) << i;
        } else {
            EXPECT_EQ(row[own], 255) << i;
            EXPECT_EQ(row[m_column], 0) << i;
        }
    }
}

TEST(ToyCallerTest, StateDataIsRequestedOrAddedLater)
{
    const auto& config = *find_config("toy_flipflop_fast");
    const auto samples = noisy_samples(1000);
    auto without = ToyCaller::call(samples, 0.0f, 1.0f, config, {true, false});
    const auto with = ToyCaller::call(samples, 0.0f, 1.0f, config, {true, true});
    EXPECT_TRUE(without.state_data.empty());
    ASSERT_EQ(with.state_data.size(), std::size_t{with.total_events} * config.state_size);
    EXPECT_TRUE(std::all_of(with.state_data.begin(), with.state_data.end(),
                            [](float value) { return value >= 0.0f && value <= 1.0f; }));
    ToyCaller::add_state_data(without);
    EXPECT_EQ(without.state_data, with.state_data);

    const auto no_events = ToyCaller::call(samples, 0.0f, 1.0f, config, {false, false});
    EXPECT_TRUE(no_events.moves.empty());
    EXPECT_EQ(no_events.sequence, with.sequence);
}

TEST(ToyCallerTest, ReadsShorterThanOneEventHaveNoBases)
{
    const auto& config = *find_config("toy_runlength");
    for (const std::size_t count : {0u, 1u, 9u}) {
        const auto read = ToyCaller::call(noisy_samples(count), 0.0f, 1.0f, config, {true, true});
        EXPECT_EQ(read.total_events, 0u);
        EXPECT_TRUE(read.sequence.empty());
        EXPECT_EQ(read.trimmed_samples, count);
        EXPECT_FLOAT_EQ(read.mean_qscore, 0.0f);
    }
}

TEST(ToyCallerTest, BlockRangesPartitionEventsAndBasesByRawBlock)
{
    const auto& config = *find_config("toy_modbase");  // stride 6
    const auto read = ToyCaller::call(noisy_samples(1000), 0.0f, 1.0f, config, {});
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
            EXPECT_GE(read.base_events[b], range.event_begin);
            EXPECT_LT(read.base_events[b], range.event_end);
        }
        event = range.event_end;
        base = range.base_end;
    }

    const auto empty = ToyCaller::empty_result(1000, config);
    for (const auto& range : ToyCaller::block_ranges(empty, blocks)) {
        EXPECT_EQ(range.event_end, 0u);
        EXPECT_EQ(range.base_end, 0u);
    }
}

}  // namespace
