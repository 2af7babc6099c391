#include "tools/input_error.h"
#include "tools/raw_read_format.h"
#include "tools/read_simulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace tamsu_cli {
namespace {

using testing::HasSubstr;

TEST(RawReadFormatTest, FormatParsesBackExactlyAndBadLinesSayWhatIsWrong)
{
    const RawRead read{"abc-123", -3.14159274f, 0.1f, {0, -32768, 32767, 5}, {}};
    const auto back = RawReadFormat::parse(RawReadFormat::format(read) + "\r");
    EXPECT_EQ(std::tie(back.read_id, back.daq_offset, back.daq_scaling, back.samples),
              std::tie(read.read_id, read.daq_offset, read.daq_scaling, read.samples));

    for (const auto& [line, message] : std::vector<std::pair<const char*, const char*>>{
                 {"r1\t1\t1", "expected 4 tab-separated fields"},
                 {"r1\t1\t1\t1\t1", "found 5"},
                 {"\t1\t1\t1", "read id"},
                 {"r1\tx\t1\t1", "DAQ offset 'x'"},
                 {"r1\t1\tinf\t1", "DAQ scaling 'inf'"},
                 {"r1\t1\t1\t", "sample 1 "},
                 {"r1\t1\t1\t1,32768", "sample 2 "},
                 {"r1\t1\t1\t1,2,", "sample 3 "},
                 {"r1\t1\t1\t1;2", "separated by commas"},
                 {"r1\t1\t1\t1, 2", "sample 2 "}}) {
        EXPECT_THAT([&] { RawReadFormat::parse(line); },
                    testing::ThrowsMessage<InputError>(HasSubstr(message)))
                << line;
    }
}

TEST(ReadSimulatorTest, ASeedGivesTheSameReadsAndLengthsStayInTheirRange)
{
    ReadSimulator simulator(7, 30, 60);
    EXPECT_EQ(RawReadFormat::format(simulator.next()),
              RawReadFormat::format(ReadSimulator(7, 30, 60).next()));
    EXPECT_NE(simulator.next().read_id, ReadSimulator(8, 30, 60).next().read_id);
    std::set<std::size_t> lengths;
    for (int i = 0; i < 200; ++i) {
        lengths.insert(simulator.next().samples.size());
    }
    EXPECT_EQ(*lengths.begin(), 30u);
    EXPECT_EQ(*lengths.rbegin(), 60u);
    EXPECT_THROW(ReadSimulator(1, 0, 10), std::invalid_argument);
}

}  // namespace
}  // namespace tamsu_cli
