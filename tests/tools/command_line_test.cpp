#include "tools/command_line.h"
#include "tools/usage_error.h"

#include <gtest/gtest.h>

namespace tamsu_cli {
namespace {

CommandLine make_line()
{
    return CommandLine({{"server", true}, {"count", true}, {"score", true}, {"moves", false}}, 1);
}

TEST(CommandLineTest, ReadsValuesInBothFormsSwitchesAndOnePositional)
{
    auto line = make_line();
    line.parse({"input.tsv", "--server", "ipc:///tmp/a", "--count=12", "--moves"});
    EXPECT_EQ(line.positionals(), std::vector<std::string>{"input.tsv"});
    EXPECT_EQ(line.text("server"), "ipc:///tmp/a");
    EXPECT_EQ(line.number("count", 0, 100), 12u);
    EXPECT_TRUE(line.has("moves"));
    EXPECT_FALSE(line.has("score"));
    EXPECT_EQ(line.fraction("score", 0.25f), 0.25f);
    EXPECT_FALSE(line.help_requested());
}

TEST(CommandLineTest, DashIsAPositionalAndValuesMayLookLikeAnything)
{
    auto line = make_line();
    line.parse({"-", "--server", "-5"});
    EXPECT_EQ(line.positionals(), std::vector<std::string>{"-"});
    EXPECT_EQ(line.text("server"), "-5");
}

TEST(CommandLineTest, HelpIsAlwaysKnown)
{
    for (const char* flag : {"--help", "-h"}) {
        auto line = make_line();
        line.parse({"--count", "3", flag});
        EXPECT_TRUE(line.help_requested()) << flag;
    }
}

TEST(CommandLineTest, RejectsWhatItCannotUse)
{
    const std::vector<std::vector<std::string>> bad = {
            {"--frob"},          {"-x"}, {"--server"}, {"--moves=yes"}, {"a.tsv", "b.tsv"},
            {"--unknown=value"},
    };
    for (const auto& arguments : bad) {
        auto line = make_line();
        EXPECT_THROW(line.parse(arguments), UsageError) << arguments.front();
    }
}

TEST(CommandLineTest, NumbersMustBeWholeAndWithinTheirRange)
{
    for (const char* value : {"-1", "1.5", "12x", "", "101", "99999999999999999999999"}) {
        auto line = make_line();
        line.parse({"--count", value});
        EXPECT_THROW(line.number("count", 0, 100), UsageError) << value;
    }
    auto line = make_line();
    line.parse({"--count", "100"});
    EXPECT_EQ(line.number("count", 0, 100), 100u);
}

TEST(CommandLineTest, FractionsMustBeFiniteNumbers)
{
    for (const char* value : {"abc", "0.5x", "inf", "nan", ""}) {
        auto line = make_line();
        line.parse({"--score", value});
        EXPECT_THROW(line.fraction("score", 0.0f), UsageError) << value;
    }
    auto line = make_line();
    line.parse({"--score", "-0.75"});
    EXPECT_FLOAT_EQ(line.fraction("score", 0.0f), -0.75f);
}

TEST(CommandLineTest, TheLastOfARepeatedOptionWins)
{
    auto line = make_line();
    line.parse({"--count", "1", "--count", "2"});
    EXPECT_EQ(line.number("count", 0, 10), 2u);
}

}  // namespace
}  // namespace tamsu_cli
