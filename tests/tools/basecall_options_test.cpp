#include "client/tamsu_client.h"
#include "program_support/cli_options.h"
#include "tools/basecall_options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

namespace tamsu_cli {
namespace {

// Options from a command line split at blanks.
BasecallOptions parse(const std::string& command_line)
{
    std::istringstream words(command_line);
    BasecallOptions options;
    CLI::App app;
    options.add_to(app);
    program_support::parse_command_line(app, {std::istream_iterator<std::string>(words), {}});
    options.check();
    return options;
}

TEST(BasecallOptionsTest, RefusesValuesTheClientCannotTakeAndAppliesEachToItsSetter)
{
    for (const char* bad : {"", "--priority urgent", "--alignment-type full"}) {
        EXPECT_THROW(parse(*bad ? std::string("in.tsv ") + bad : ""), CLI::ParseError) << bad;
    }
    // Each option reaches its own setter: the client's state report shows the values taken.
    const auto options = parse(
            "in.tsv b.tsv --server 1 --priority high --timeout 1234 --connection-timeout 4321 "
            "--file-load-timeout 7 --block-size 99 --max-reads-queued 64 --moves "
            "--state-data --barcode-kits TOY-DUAL --min-score-front 0.5 "
            "--lamp-kit TOY-LAMP --reconnect-timeout 3 --server 2");
    tamsu::TamsuClient client("ipc:///tmp/tamsu-options-test-never-bound", "toy_runlength");
    EXPECT_EQ(options.apply_to(client), "");
    EXPECT_EQ(options.inputs, (std::vector<std::string>{"in.tsv", "b.tsv"}));
    EXPECT_EQ(options.servers, (std::vector<std::string>{"1", "2"}));
    for (const auto* value :
         {"\"priority\": 0,", "\"m_timeout\": 1234,", "\"m_connection_timeout_ms\": 4321,",
          "\"m_server_file_load_timeout\": 7,", "\"m_block_size\": 99,",
          "\"m_max_reads_queued\": 64,", "\"m_disable_events\": false",
          "\"m_enable_state_data\": true", "\"m_barcode_kits\": \"TOY-DUAL\""}) {
        EXPECT_THAT(client.get_internal_state(), testing::HasSubstr(value));
    }
}

}  // namespace
}  // namespace tamsu_cli
