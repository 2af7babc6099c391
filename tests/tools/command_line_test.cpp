#include "tools/command_line.h"
#include "tools/usage_error.h"

#include <gtest/gtest.h>

namespace tamsu_cli {
namespace {

CommandLine make_line(const std::vector<std::string>& arguments)
{
    CommandLine line({{"server", true}, {"count", true}, {"score", true}, {"moves", false}}, 1);
    line.parse(arguments);
    return line;
}

TEST(CommandLineTest, ReadsBothValueFormsSwitchesDashAndTheLastRepeatAndRefusesTheRest)
{
    const auto line = make_line({"-", "--server", "-5", "--count=12", "--count", "100", "--moves"});
    EXPECT_EQ(line.positionals(), std::vector<std::string>{"-"});
    EXPECT_EQ(line.text("server"), "-5");
    EXPECT_EQ(line.number("count", 0, 100), 100u);
    EXPECT_TRUE(line.has("moves"));
    EXPECT_EQ(line.fraction("score", 0.25f), 0.25f);
    EXPECT_FALSE(line.help_requested());
    EXPECT_TRUE(make_line({"--count", "3", "-h"}).help_requested());
    EXPECT_FLOAT_EQ(make_line({"--score", "-0.75"}).fraction("score", 0.0f), -0.75f);

    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--frob"},
                                                      {"-x"},
                                                      {"--server"},
                                                      {"--moves=yes"},
                                                      {"a.tsv", "b.tsv"}}) {
        EXPECT_THROW(make_line(arguments), UsageError) << arguments.front();
    }
    for (const char* value : {"-1", "1.5", "12x", "", "101", "99999999999999999999999"}) {
        EXPECT_THROW(make_line({"--count", value}).number("count", 0, 100), UsageError) << value;
    }
    for (const char* value : {"abc", "0.5x", "inf", "nan", ""}) {
        EXPECT_THROW(make_line({"--score", value}).fraction("score", 0.0f), UsageError) << value;
    }
}

}  // namespace
}  // namespace tamsu_cli
