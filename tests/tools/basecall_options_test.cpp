#include "client/tamsu_client.h"
#include "tools/basecall_options.h"
#include "tools/usage_error.h"

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
    CommandLine line(BasecallOptions::command_line_options(), 1);
    line.parse({std::istream_iterator<std::string>(words), {}});
    return BasecallOptions::from_command_line(line);
}

TEST(BasecallOptionsTest, RefusesValuesTheClientCannotTakeAndAppliesEachToItsSetter)
{
    // The last block size is the model stride of 5 times beyond 64 bits.
    for (const char* bad :
         {"", "--priority urgent", "--timeout 4294967296", "--timeout 0", "--block-size 0",
          "--block-size 3689348814741910324", "--max-reads-queued 0", "--alignment-type full",
          "--emit-fastq --emit-sam"}) {
        EXPECT_THROW(parse(*bad ? std::string("in.tsv ") + bad : ""), UsageError) << bad;
    }
    // Each option reaches its own setter: the client's state report shows the values taken.
    const auto options =
            parse("in.tsv --priority high --timeout 1234 --connection-timeout 4321 "
                  "--file-load-timeout 7 --block-size 99 --max-reads-queued 64 --moves "
                  "--state-data --barcode-kits TOY-DUAL --min-score-front 0.5 "
                  "--lamp-kit TOY-LAMP --reconnect-timeout 3");
    tamsu::TamsuClient client("ipc:///tmp/tamsu-options-test-never-bound", "toy_runlength");
    EXPECT_EQ(options.apply_to(client), "");
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
