#include "client/tamsu_client.h"
#include "tools/basecall_options.h"
#include "tools/usage_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace tamsu_cli {
namespace {

// Options from a command line split at blanks.
BasecallOptions parse(const std::string& command_line)
{
    std::vector<std::string> arguments;
    std::istringstream words(command_line);
    for (std::string word; words >> word;) {
        arguments.push_back(word);
    }
    CommandLine line(BasecallOptions::command_line_options(), 1);
    line.parse(arguments);
    return BasecallOptions::from_command_line(line);
}

TEST(BasecallOptionsTest, RejectsValuesTheClientCannotTake)
{
    for (const char* bad : {"", "in.tsv --priority urgent", "in.tsv --timeout 4294967296",
                            "in.tsv --timeout 0", "in.tsv --block-size 0",
                            // Times the model stride of 5, beyond 64 bits.
                            "in.tsv --block-size 3689348814741910324",
                            "in.tsv --max-reads-queued 0", "in.tsv --alignment-type full"}) {
        EXPECT_THROW(parse(bad), UsageError) << bad;
    }
}

// Each option reaches its own setter: the client's state report shows the values taken.
TEST(BasecallOptionsTest, AppliesTheGivenParametersToTheClient)
{
    const auto options =
            parse("in.tsv --priority high --timeout 1234 --connection-timeout 4321 "
                  "--file-load-timeout 7 --block-size 99 --max-reads-queued 64 --moves "
                  "--state-data --barcode-kits TOY-DUAL --min-score-front 0.5 "
                  "--lamp-kit TOY-LAMP --reconnect-timeout 3");
    tamsu::TamsuClient client("ipc:///tmp/tamsu-options-test-never-bound", "toy_runlength");
    EXPECT_EQ(options.apply_to(client), "");
    // The only client in this process.
    const auto state = client.get_internal_state();
    for (const auto* value :
         {"\"priority\": 0,", "\"m_timeout\": 1234,", "\"m_connection_timeout_ms\": 4321,",
          "\"m_server_file_load_timeout\": 7,", "\"m_block_size\": 99,",
          "\"m_max_reads_queued\": 64,", "\"m_disable_events\": false",
          "\"m_enable_state_data\": true", "\"m_barcode_kits\": \"TOY-DUAL\""}) {
        EXPECT_THAT(state, testing::HasSubstr(value));
    }
}

}  // namespace
}  // namespace tamsu_cli
