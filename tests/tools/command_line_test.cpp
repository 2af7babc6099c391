#include "tools/command_line.h"
#include "tools/usage_error.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

namespace tamsu_cli {
namespace {

// Parses the words of `text`, then reads the numbers as a command would.
CommandLine make_line(const std::string& text)
{
    std::istringstream words(text);
    CommandLine line({{"server", true}, {"count", true}, {"score", true}, {"moves", false}}, 1);
    line.parse({std::istream_iterator<std::string>(words), {}});
    line.number("count", 0, 100);
    line.fraction("score", 0.0f);
    return line;
}

TEST(CommandLineTest, ReadsBothValueFormsSwitchesDashAndTheLastRepeatAndRefusesTheRest)
{
    const auto line = make_line("- --server -5 --count=12 --count 100 --moves");
    EXPECT_EQ(line.positionals(), std::vector<std::string>{"-"});
    EXPECT_EQ(line.text("server"), "-5");
    EXPECT_EQ(line.number("count", 0, 100), 100u);
    EXPECT_EQ(line.texts("count"), (std::vector<std::string>{"12", "100"}));
    EXPECT_TRUE(line.has("moves") && !line.help_requested());
    EXPECT_TRUE(make_line("--count 3 -h").help_requested());
    EXPECT_FLOAT_EQ(make_line("--score -0.75").fraction("score", 0.25f), -0.75f);
    // Unknown, valueless, a value for a switch, a second input, then values out of their range.
    for (const char* bad : {"--frob", "--server", "--moves=yes", "a.tsv b.tsv", "--count -1",
                            "--count 1.5", "--count 101", "--score nan", "--score 0.5x"}) {
        EXPECT_THROW(make_line(bad), UsageError) << bad;
    }
}

}  // namespace
}  // namespace tamsu_cli
