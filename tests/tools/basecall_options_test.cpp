#include "client/tamsu_client.h"
#include "server/basecall_server.h"
#include "support/temp_directory.h"
#include "tools/basecall_options.h"
#include "tools/usage_error.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

namespace tamsu_cli {
namespace {

using tamsu_test::TempDirectory;

BasecallOptions parse(const std::vector<std::string>& arguments)
{
    CommandLine line(BasecallOptions::command_line_options(), 1);
    line.parse(arguments);
    return BasecallOptions::from_command_line(line);
}

TEST(BasecallOptionsTest, DefaultsLeaveClientParametersUnset)
{
    const auto options = parse({"in.tsv"});
    EXPECT_EQ(options.input, "in.tsv");
    EXPECT_EQ(options.server, "");
    EXPECT_EQ(options.config, "toy_flipflop_fast");
    EXPECT_EQ(options.output_dir, ".");
    EXPECT_FALSE(options.priority);
    EXPECT_FALSE(options.timeout_ms);
    EXPECT_FALSE(options.min_score_front);
    EXPECT_FALSE(options.moves);
}

TEST(BasecallOptionsTest, ReadsEveryKindOfValue)
{
    const auto options = parse({"-", "--priority", "low", "--min-score-front", "0.5",
                                "--min-length-lamp-targets", "30", "--trim-barcodes", "--index",
                                "ref.fa", "--alignment-type", "full"});
    EXPECT_EQ(options.input, "-");
    EXPECT_EQ(options.priority, tamsu::Read::LOW_PRIORITY);
    EXPECT_EQ(options.min_score_front, 0.5f);
    EXPECT_FALSE(options.min_score_rear);
    EXPECT_EQ(options.min_length_lamp_targets, 30u);
    EXPECT_TRUE(options.trim_barcodes);
    EXPECT_EQ(options.alignment_type, "full");
}

TEST(BasecallOptionsTest, RejectsValuesTheClientCannotTake)
{
    const std::vector<std::vector<std::string>> bad = {
            {},
            {"in.tsv", "--priority", "urgent"},
            {"in.tsv", "--timeout", "4294967296"},
            {"in.tsv", "--timeout", "0"},
            {"in.tsv", "--block-size", "0"},
            // Times the model stride of 5, beyond 64 bits.
            {"in.tsv", "--block-size", "3689348814741910324"},
            {"in.tsv", "--max-reads-queued", "0"},
            {"in.tsv", "--alignment-type", "full"},
            {"in.tsv", "--min-score-masks", "high"},
    };
    for (const auto& arguments : bad) {
        EXPECT_THROW(parse(arguments), UsageError) << testing::PrintToString(arguments);
    }
}

// The client reports its parameters in its state report; a unique address finds ours.
const rapidjson::Value* client_state(const rapidjson::Document& document,
                                     const std::string& address)
{
    for (auto member = document.MemberBegin(); member != document.MemberEnd(); ++member) {
        const auto& value = member->value;
        if (value.IsObject() && value.HasMember("m_address") &&
            value["m_address"].GetString() == address) {
            return &value;
        }
    }
    return nullptr;
}

TEST(BasecallOptionsTest, AppliesTheGivenParametersToTheClient)
{
    const std::string address = "ipc:///tmp/tamsu-options-test-never-bound";
    tamsu::TamsuClient client(address, "toy_runlength");
    const auto options = parse({"in.tsv",
                                "--priority",
                                "high",
                                "--timeout",
                                "1234",
                                "--connection-timeout",
                                "4321",
                                "--file-load-timeout",
                                "7",
                                "--block-size",
                                "99",
                                "--max-reads-queued",
                                "64",
                                "--moves",
                                "--state-data",
                                "--barcode-kits",
                                "TOY-BC12 TOY-DUAL",
                                "--min-score-front",
                                "0.5",
                                "--lamp-kit",
                                "TOY-LAMP",
                                "--reconnect-timeout",
                                "3"});
    EXPECT_EQ(options.apply_to(client), "");
    rapidjson::Document state;
    state.Parse(client.get_internal_state().c_str());
    ASSERT_FALSE(state.HasParseError());
    const auto* ours = client_state(state, address);
    ASSERT_NE(ours, nullptr) << client.get_internal_state();
    EXPECT_EQ((*ours)["priority"].GetInt(), 0);
    EXPECT_EQ((*ours)["m_timeout"].GetUint(), 1234u);
    EXPECT_EQ((*ours)["m_connection_timeout_ms"].GetUint(), 4321u);
    EXPECT_EQ((*ours)["m_server_file_load_timeout"].GetUint(), 7u);
    EXPECT_EQ((*ours)["m_block_size"].GetUint(), 99u);
    EXPECT_EQ((*ours)["m_max_reads_queued"].GetUint(), 64u);
    EXPECT_FALSE((*ours)["m_disable_events"].GetBool());
    EXPECT_TRUE((*ours)["m_enable_state_data"].GetBool());
    EXPECT_STREQ((*ours)["m_barcode_kits"].GetString(), "TOY-BC12 TOY-DUAL");
}

TEST(BasecallOptionsTest, NamesTheSetterAConnectedClientRefused)
{
    TempDirectory directory;
    reference_server::ServerOptions server_options;
    server_options.address = "ipc://" + directory.file("server");
    reference_server::BasecallServer server(server_options);
    tamsu::TamsuClient client(server.endpoint(), "toy_flipflop_fast");
    ASSERT_EQ(client.connect(), tamsu::Result::success);
    EXPECT_EQ(parse({"in.tsv", "--timeout", "5", "--moves"}).apply_to(client), "set_timeout");
    EXPECT_EQ(parse({"in.tsv", "--lamp-kit", "TOY-LAMP"}).apply_to(client), "set_name");
    client.disconnect();
}

}  // namespace
}  // namespace tamsu_cli
