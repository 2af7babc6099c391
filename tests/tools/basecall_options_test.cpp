#include "client/tamsu_client.h"
#include "tools/basecall_options.h"
#include "tools/usage_error.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

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
    const std::string address = "ipc:///tmp/tamsu-options-test-never-bound";
    tamsu::TamsuClient client(address, "toy_runlength");
    EXPECT_EQ(options.apply_to(client), "");
    rapidjson::Document state;
    state.Parse(client.get_internal_state().c_str());
    const rapidjson::Value* ours = nullptr;  // a unique address finds our client
    for (auto member = state.MemberBegin(); !state.HasParseError() && member != state.MemberEnd();
         ++member) {
        const auto& value = member->value;
        if (value.IsObject() && value.HasMember("m_address") &&
            value["m_address"] == address.c_str()) {
            ours = &value;
        }
    }
    ASSERT_NE(ours, nullptr) << client.get_internal_state();
    EXPECT_EQ((*ours)["priority"].GetInt(), 0);
    EXPECT_EQ((*ours)["m_timeout"].GetUint(), 1234u);
    EXPECT_EQ((*ours)["m_connection_timeout_ms"].GetUint(), 4321u);
    EXPECT_EQ((*ours)["m_server_file_load_timeout"].GetUint(), 7u);
    EXPECT_EQ((*ours)["m_block_size"].GetUint(), 99u);
    EXPECT_EQ((*ours)["m_max_reads_queued"].GetUint(), 64u);
    EXPECT_FALSE((*ours)["m_disable_events"].GetBool());
    EXPECT_TRUE((*ours)["m_enable_state_data"].GetBool());
    EXPECT_STREQ((*ours)["m_barcode_kits"].GetString(), "TOY-DUAL");
}

}  // namespace
}  // namespace tamsu_cli
