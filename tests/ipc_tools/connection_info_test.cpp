#include "ipc_tools/connection_info.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <boost/optional/optional_io.hpp>

#include <fstream>
#include <stdexcept>

namespace ipc_tools {
namespace {

ConnectionInfo info_for(const std::string& config)
{
    ConnectionInfo info;
    info.m_config_name = config;
    return info;
}

TEST(ConnectionInfoTest, MinimalStringCarriesTheThreeFixedKeysEvenWhenEmpty)
{
    auto info = info_for("cfg");

    EXPECT_EQ(info.build_connection_string(),
              "cfg:>timeout_interval=0>client_name=>alignment_type=:::");
}

TEST(ConnectionInfoTest, FloatOptionsUseSevenSignificantDigits)
{
    auto info = info_for("cfg");
    info.m_client_name = "me";
    info.m_alignment_type = "auto";
    info.m_timeout_interval = 15000;
    info.m_barcoding_options.m_min_score = 60.f;

    EXPECT_EQ(info.build_connection_string(),
              "cfg:>timeout_interval=15000>client_name=me>alignment_type=auto>min_score=60:::");

    info.m_barcoding_options.m_min_score = 0.1f;
    info.m_barcoding_options.m_min_score_mask = 1e-8f;
    EXPECT_NE(info.build_connection_string().find(">min_score=0.1>min_score_mask=1e-08:"),
              std::string::npos);
}

TEST(ConnectionInfoTest, BarcodingOptionsAreWrittenInTheirFixedOrderWithoutTrimming)
{
    auto info = info_for("c");
    auto& options = info.m_barcoding_options;
    options.m_min_length_lamp_target = 9;
    options.m_min_length_lamp_context = 8;
    options.m_additional_context_bases = 7;
    options.m_min_score_lamp_target = 6.5f;
    options.m_min_score_lamp_mask = 6.f;
    options.m_min_score_lamp = 5.5f;
    options.m_lamp_kit = "LK";
    options.m_min_score_mid_barcodes = 5.f;
    options.m_min_score_mask = 4.f;
    options.m_min_score_rear_override = 3.f;
    options.m_min_score = 2.f;
    options.m_detect_mid_strand_barcodes = false;
    options.m_detect_mid_strand_adapter = true;
    options.m_require_both_ends = true;
    options.m_trim_barcodes = true;

    EXPECT_EQ(info.build_connection_string(),
              "c:>timeout_interval=0>client_name=>alignment_type="
              ">require_barcodes_both_ends=true>detect_mid_strand_adapter=true"
              ">detect_mid_strand_barcodes=false>min_score=2>min_score_rear_override=3"
              ">min_score_mask=4>min_score_mid_barcodes=5>lamp_kit=LK>min_score_lamp=5.5"
              ">min_score_lamp_mask=6>min_score_lamp_target=6.5>additional_context_bases=7"
              ">min_length_lamp_context=8>min_length_lamp_target=9:::");
}

TEST(ConnectionInfoTest, KitsAreFollowedByTheTrimmingField)
{
    const std::string prefix = "c:>timeout_interval=0>client_name=>alignment_type=:";
    auto info = info_for("c");
    info.m_barcode_kits = "K1 K2";
    EXPECT_EQ(info.build_connection_string(), prefix + "K1 K2:false:");

    info.m_barcoding_options.m_trim_barcodes = false;
    EXPECT_EQ(info.build_connection_string(), prefix + "K1 K2:false:");

    info.m_barcoding_options.m_trim_barcodes = true;
    EXPECT_EQ(info.build_connection_string(), prefix + "K1 K2:true:");
}

class ConnectionInfoFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path();
        boost::filesystem::create_directories(m_dir / "sub");
        std::ofstream(path("idx.fa")) << ">r\nACGT\n";
        std::ofstream(path("b.bed")) << "r\t0\t4\n";
    }
    void TearDown() override { boost::filesystem::remove_all(m_dir); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    boost::filesystem::path m_dir;
};

TEST_F(ConnectionInfoFilesTest, IndexAndBedPathsBecomeCanonicalAndBedNeedsAnIndex)
{
    const auto canonical_dir = boost::filesystem::canonical(m_dir).string();
    auto info = info_for("c");
    info.m_alignment_index = path("sub/../idx.fa");
    info.m_bed_file = path("b.bed");

    const auto text = info.build_connection_string();

    EXPECT_EQ(info.m_alignment_index, canonical_dir + "/idx.fa");
    EXPECT_EQ(text.substr(text.rfind(':') + 1),
              canonical_dir + "/idx.fa;" + canonical_dir + "/b.bed");

    info.m_alignment_index.clear();
    const auto without_index = info.build_connection_string();
    EXPECT_EQ(without_index.substr(without_index.rfind(':') + 1), "");
}

TEST_F(ConnectionInfoFilesTest, MissingIndexFileCannotBeMadeCanonical)
{
    auto info = info_for("c");
    info.m_alignment_index = path("missing.fa");

    try {
        info.build_connection_string();
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Error while converting relative path", 0), 0u);
    }
}

TEST(ConnectionInfoTest, EveryFieldSurvivesBuildAndParse)
{
    auto info = info_for("dna_config");
    info.m_client_name = "host client";
    info.m_barcode_kits = "KIT-A KIT-B";
    info.m_alignment_type = "coarse";
    info.m_timeout_interval = 4294967295u;
    auto& options = info.m_barcoding_options;
    options.m_require_both_ends = true;
    options.m_min_score = 61.25f;
    options.m_min_score_rear_override = 0.1f;
    options.m_detect_mid_strand_barcodes = false;
    options.m_trim_barcodes = true;
    options.m_lamp_kit = "LAMP-1";
    options.m_additional_context_bases = 18446744073709551615ul;
    options.m_min_length_lamp_target = 40;
    const auto text = info.build_connection_string();

    std::string error = "stale";
    auto [ok, parsed] = ConnectionInfo::parse(text, error);

    // Every field is in the text, so a parse that lost or swapped one builds a different one.
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(parsed.build_connection_string(), text);
    EXPECT_EQ(parsed.m_client_name, "host client");
    EXPECT_EQ(parsed.m_barcoding_options.m_additional_context_bases, 18446744073709551615ul);
}

TEST(ConnectionInfoTest, StringWithoutOptionsFieldParsesKitsTrimmingIndexAndBed)
{
    std::string error;
    const auto [ok, parsed] = ConnectionInfo::parse("cfg:K1:true:/i;/b", error);

    ASSERT_TRUE(ok);
    EXPECT_EQ(parsed.m_config_name, "cfg");
    EXPECT_EQ(parsed.m_barcode_kits, "K1");
    EXPECT_EQ(parsed.m_barcoding_options.m_trim_barcodes, true);
    EXPECT_EQ(parsed.m_alignment_index, "/i");
    EXPECT_EQ(parsed.m_bed_file, "/b");
    EXPECT_EQ(parsed.m_alignment_type, "auto");
}

TEST(ConnectionInfoTest, BadOptionValuesFailWithTheOptionsFieldInTheMessage)
{
    for (const std::string options : {">timeout_interval=x", ">timeout_interval=1>min_score=high",
                                      ">timeout_interval=1>trim_barcodes=yes>detect_mid_strand_"
                                      "adapter=1",
                                      ">timeout_interval=1>=3"}) {
        std::string error;
        const auto result = ConnectionInfo::parse("cfg:" + options + ":::", error);
        EXPECT_FALSE(result.first) << options;
        EXPECT_EQ(error, "Failed to parse barcoding options in connection string: " + options);
    }
}

TEST(ConnectionInfoTest, OptionsWithoutTimeoutThrowOutOfRange)
{
    std::string error;
    EXPECT_THROW(ConnectionInfo::parse("cfg:>client_name=x:::", error), std::out_of_range);
}

TEST(ConnectionStringTest, KeyValuePairsSplitAtEveryMarkerAndKeepLaterEquals)
{
    const auto [ok, values] = connection_string::get_kvps(">a=1>b=x=y");
    ASSERT_TRUE(ok);
    EXPECT_EQ(values.size(), 2u);
    EXPECT_EQ(values.at("a"), "1");
    EXPECT_EQ(values.at("b"), "x=y");

    EXPECT_TRUE(connection_string::get_kvps("").first);
    EXPECT_FALSE(connection_string::get_kvps("a=1").first);
    EXPECT_FALSE(connection_string::get_kvps(">=1").first);
    EXPECT_FALSE(connection_string::get_kvps(">a").first);
    EXPECT_FALSE(connection_string::get_kvps(">a=1>b").first);
}

TEST(ConnectionStringTest, NumbersParseWithStreamRulesIgnoringTrailingText)
{
    unsigned int whole = 0;
    EXPECT_TRUE(connection_string::parse_value("42abc", whole));
    EXPECT_EQ(whole, 42u);
    EXPECT_FALSE(connection_string::parse_value("abc", whole));
    float fraction = 0;
    EXPECT_TRUE(connection_string::parse_value("0.25", fraction));
    EXPECT_EQ(fraction, 0.25f);
    unsigned long big = 0;
    EXPECT_TRUE(connection_string::parse_value("18446744073709551615", big));
    EXPECT_EQ(big, 18446744073709551615ul);
    EXPECT_FALSE(connection_string::parse_value("", big));
}

}  // namespace
}  // namespace ipc_tools
