#include "client/tamsu_client.h"
#include "tools/application.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

namespace tamsu_cli {
namespace {

using testing::HasSubstr;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome run(const std::string& command_line)
{
    std::istringstream words(command_line);
    std::ostringstream out;
    std::ostringstream err;
    const int status = Application::run({std::istream_iterator<std::string>(words), {}}, out, err);
    return {status, out.str(), err.str()};
}

// Every command refuses a number out of its option's range, or not written in decimal, before it
// reads or connects to anything, naming the option and its range.
TEST(ApplicationTest, RefusesNumbersOutOfRangeAndOtherUnusableLinesWithStatusTwo)
{
    const std::pair<const char*, const char*> cases[] = {
            {"basecall in.tsv --timeout 0", "--timeout needs a whole number from 1 to 4294967295"},
            {"basecall in.tsv --block-size 4294967296",
             "--block-size needs a whole number from 1 to 4294967295, not '4294967296'"},
            {"basecall in.tsv --max-reads-queued 18446744073709551616",
             "--max-reads-queued needs a whole number from 1 to 18446744073709551615"},
            {"basecall in.tsv --min-length-lamp-targets -1",
             "--min-length-lamp-targets needs a whole number from 0 to"},
            {"basecall in.tsv --min-score-front inf",
             "--min-score-front needs a number, not 'inf'"},
            {"simulate --min-length 0", "--min-length needs a whole number from 1 to 100000000"},
            {"simulate --max-length 100000001", "--max-length needs a whole number from 1 to"},
            {"query statistics --timeout 0x10",
             "--timeout needs a whole number from 1 to 4294967295, not '0x10'"},
            {"basecall in.tsv --emit-fastq --emit-sam", "--emit-fastq excludes --emit-sam"},
            {"basecall in.tsv --block-size", "--block-size: 1 required N missing"},
            {"basecall in.tsv --frob", "not expected: --frob"},
            {"basecall --moves", "INPUT is required"},
    };
    for (const auto& [command_line, message] : cases) {
        SCOPED_TRACE(command_line);
        const auto outcome = run(command_line);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_THAT(outcome.err, HasSubstr(message));
        EXPECT_THAT(outcome.err, HasSubstr("Usage: tamsu "));
    }
}

TEST(ApplicationTest, VersionNamesTheSoftwareApiAndProtocolVersions)
{
    const auto outcome = run("--version");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_THAT(outcome.out,
                HasSubstr("tamsu " + tamsu::TamsuClient::get_software_version().text + "\n"));
    EXPECT_THAT(outcome.out, HasSubstr("API 5.0.0, protocol 7.0.0"));
}

}  // namespace
}  // namespace tamsu_cli
