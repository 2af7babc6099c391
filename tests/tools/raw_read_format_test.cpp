#include "tools/input_error.h"
#include "tools/raw_read_format.h"
#include "tools/raw_read_reader.h"
#include "tools/read_simulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace tamsu_cli {
namespace {

using testing::HasSubstr;

std::string error_of(const std::string& line)
{
    try {
        RawReadFormat::parse(line);
    } catch (const InputError& error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(RawReadFormatTest, ParsesTheFourFields)
{
    const auto read = RawReadFormat::parse("read_1\t10.5\t0.25\t1,-2,32767,-32768\r");
    EXPECT_EQ(read.read_id, "read_1");
    EXPECT_FLOAT_EQ(read.daq_offset, 10.5f);
    EXPECT_FLOAT_EQ(read.daq_scaling, 0.25f);
    EXPECT_EQ(read.samples, (std::vector<std::int16_t>{1, -2, 32767, -32768}));
}

TEST(RawReadFormatTest, FormatParsesBackExactly)
{
    RawRead read;
    read.read_id = "abc-123";
    read.daq_offset = -3.14159274f;
    read.daq_scaling = 0.1f;
    read.samples = {0, -32768, 32767, 5};
    const auto line = RawReadFormat::format(read);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto back = RawReadFormat::parse(line);
    EXPECT_EQ(back.read_id, read.read_id);
    EXPECT_EQ(back.daq_offset, read.daq_offset);
    EXPECT_EQ(back.daq_scaling, read.daq_scaling);
    EXPECT_EQ(back.samples, read.samples);
}

TEST(RawReadFormatTest, SaysWhatIsWrongWithALine)
{
    EXPECT_THAT(error_of("r1\t1\t1"), HasSubstr("expected 4 tab-separated fields"));
    EXPECT_THAT(error_of("r1\t1\t1\t1\t1"), HasSubstr("found 5"));
    EXPECT_THAT(error_of("r1 1 1 1,2"), HasSubstr("found 1"));
    EXPECT_THAT(error_of("\t1\t1\t1"), HasSubstr("read id"));
    EXPECT_THAT(error_of("r 1\t1\t1\t1"), HasSubstr("read id"));
    EXPECT_THAT(error_of("r1\tx\t1\t1"), HasSubstr("DAQ offset 'x'"));
    EXPECT_THAT(error_of("r1\t1\tinf\t1"), HasSubstr("DAQ scaling 'inf'"));
    EXPECT_THAT(error_of("r1\t1\t1\t"), HasSubstr("sample 1 "));
    EXPECT_THAT(error_of("r1\t1\t1\t1,32768"), HasSubstr("sample 2 "));
    EXPECT_THAT(error_of("r1\t1\t1\t1,-32769"), HasSubstr("sample 2 "));
    EXPECT_THAT(error_of("r1\t1\t1\t1,,2"), HasSubstr("sample 2 "));
    EXPECT_THAT(error_of("r1\t1\t1\t1,2,"), HasSubstr("sample 3 "));
    EXPECT_THAT(error_of("r1\t1\t1\t1;2"), HasSubstr("separated by commas"));
    EXPECT_THAT(error_of("r1\t1\t1\t1, 2"), HasSubstr("sample 2 "));
}

TEST(RawReadFormatTest, BlankAndCommentLinesCarryNoRead)
{
    EXPECT_TRUE(RawReadFormat::is_skippable(""));
    EXPECT_TRUE(RawReadFormat::is_skippable(" \t\r"));
    EXPECT_TRUE(RawReadFormat::is_skippable("  # a comment"));
    EXPECT_FALSE(RawReadFormat::is_skippable("r1\t1\t1\t1"));
}

TEST(RawReadReaderTest, ReadsEveryReadAndNamesTheLineOfAnError)
{
    std::istringstream input("# header\nr1\t0\t1\t1,2\n\nr2\t0\t1\t3\nr3\t0\t1\tx\nr4\t0\t1\t4\n");
    RawReadReader reader(input, "reads.tsv");
    RawRead read;
    ASSERT_TRUE(reader.next(read));
    EXPECT_EQ(read.read_id, "r1");
    ASSERT_TRUE(reader.next(read));
    EXPECT_EQ(read.read_id, "r2");
    try {
        reader.next(read);
        FAIL() << "a malformed line was accepted";
    } catch (const InputError& error) {
        EXPECT_THAT(error.what(), HasSubstr("reads.tsv: line 5: sample 1 "));
    }
}

TEST(RawReadReaderTest, EndsAtTheEndOfInput)
{
    std::istringstream input("r1\t0\t1\t1");
    RawReadReader reader(input, "in");
    RawRead read;
    EXPECT_TRUE(reader.next(read));
    EXPECT_FALSE(reader.next(read));
    EXPECT_FALSE(reader.next(read));
}

TEST(RawReadReaderTest, AMissingFileOrADirectoryIsAnInputError)
{
    EXPECT_THROW(RawReadReader("/nonexistent/reads.tsv"), InputError);
    EXPECT_THROW(RawReadReader("/tmp"), InputError);
}

std::vector<RawRead> simulate(std::uint64_t seed, int count, std::size_t low, std::size_t high)
{
    ReadSimulator simulator(seed, low, high);
    std::vector<RawRead> reads;
    for (int i = 0; i < count; ++i) {
        reads.push_back(simulator.next());
    }
    return reads;
}

TEST(ReadSimulatorTest, TheSameSeedGivesTheSameReadsAndAnotherSeedOthers)
{
    const auto first = simulate(42, 5, 100, 500);
    const auto again = simulate(42, 5, 100, 500);
    const auto other = simulate(43, 5, 100, 500);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(RawReadFormat::format(first[i]), RawReadFormat::format(again[i]));
        EXPECT_NE(first[i].read_id, other[i].read_id);
    }
}

TEST(ReadSimulatorTest, ReadsHaveUniqueIdsLengthsInRangeAndPlausibleLevels)
{
    std::set<std::string> ids;
    std::set<std::size_t> lengths;
    for (const auto& read : simulate(7, 200, 30, 60)) {
        ids.insert(read.read_id);
        lengths.insert(read.samples.size());
        EXPECT_GE(read.samples.size(), 30u);
        EXPECT_LE(read.samples.size(), 60u);
        EXPECT_GT(read.daq_scaling, 0.0f);
        for (const auto sample : read.samples) {
            EXPECT_GE(sample, 250);
            EXPECT_LE(sample, 850);
        }
        // A format line parses back: the simulator's output is valid input.
        EXPECT_NO_THROW(RawReadFormat::parse(RawReadFormat::format(read)));
    }
    EXPECT_EQ(ids.size(), 200u);
    EXPECT_EQ(*lengths.begin(), 30u);
    EXPECT_EQ(*lengths.rbegin(), 60u);
}

TEST(ReadSimulatorTest, RefusesAnEmptyOrInvertedLengthRange)
{
    EXPECT_THROW(ReadSimulator(1, 0, 10), std::invalid_argument);
    EXPECT_THROW(ReadSimulator(1, 11, 10), std::invalid_argument);
}

}  // namespace
}  // namespace tamsu_cli
