#include "ipc_tools/connection_info.h"

#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

namespace ipc_tools {
namespace {

TEST(ConnectionInfoTest, EncodingsOfTheFieldsInTheirFixedOrder)
{
    ConnectionInfo info;
    info.m_config_name = "c";
    const std::string fixed = "c:>timeout_interval=0>client_name=>alignment_type=";
    EXPECT_EQ(info.build_connection_string(), fixed + ":::");
    info.m_barcode_kits = "K1 K2";
    EXPECT_EQ(info.build_connection_string(), fixed + ":K1 K2:false:");
    // Every field, numbers to seven significant digits; a lost or swapped one differs.
    const std::string every =
            "c:>timeout_interval=4294967295>client_name=me>alignment_type=coarse"
            ">require_barcodes_both_ends=true>detect_mid_strand_adapter=true"
            ">detect_mid_strand_barcodes=false>min_score=0.1>min_score_rear_override=3"
            ">min_score_mask=1e-08>min_score_mid_barcodes=5>lamp_kit=LK"
            ">min_score_lamp=5.5>min_score_lamp_mask=6>min_score_lamp_target=6.5"
            ">additional_context_bases=18446744073709551615>min_length_lamp_context=8"
            ">min_length_lamp_target=9:K:true:";
    std::string error = "stale";
    auto [ok, parsed] = ConnectionInfo::parse(every, error);
    EXPECT_TRUE(ok && error.empty()) << error;
    EXPECT_EQ(parsed.build_connection_string(), every);
}

TEST(ConnectionInfoTest, IndexAndBedPathsBecomeCanonicalAndBedNeedsAnIndex)
{
    tamsu_test::TempDirectory directory;
    std::ofstream(directory.file("idx.fa")) << ">r\nACGT\n";
    std::ofstream(directory.file("b.bed")) << "r\t0\t4\n";
    ConnectionInfo info;
    info.m_alignment_index = directory.file("missing.fa");
    info.m_bed_file = directory.file("b.bed");
    EXPECT_THROW(info.build_connection_string(), std::runtime_error);

    info.m_alignment_index = directory.file("./idx.fa");
    const auto text = info.build_connection_string();
    EXPECT_EQ(text.substr(text.rfind(':') + 1),
              directory.file("idx.fa") + ";" + directory.file("b.bed"));
    info.m_alignment_index.clear();
    EXPECT_EQ(info.build_connection_string().back(), ':');
}

TEST(ConnectionInfoTest, ParseTakesDefaultsForAbsentFieldsAndNamesTheOptionsItCannotRead)
{
    std::string error;
    const auto [ok, parsed] = ConnectionInfo::parse("cfg:K1:true:/i;/b", error);
    ASSERT_TRUE(ok);
    EXPECT_EQ(parsed.m_bed_file, "/b");
    EXPECT_EQ(parsed.m_alignment_type, "auto");
    // Values split at every marker, keep later equals signs and are read as streams read them.
    const auto [read, values] =
            ConnectionInfo::parse("cfg:>timeout_interval=42abc>lamp_kit=x=y:::", error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(values.m_timeout_interval, 42u);
    EXPECT_EQ(values.m_barcoding_options.m_lamp_kit.value_or(""), "x=y");

    for (const std::string options :
         {">timeout_interval=x", ">timeout_interval=", ">timeout_interval=1>min_score=high",
          ">timeout_interval", ">timeout_interval=1>trim_barcodes=yes>detect_mid_strand_adapter=1",
          ">timeout_interval=1>=3"}) {
        SCOPED_TRACE(options);
        EXPECT_FALSE(ConnectionInfo::parse("cfg:" + options + ":::", error).first);
        EXPECT_EQ(error, "Failed to parse barcoding options in connection string: " + options);
    }
    EXPECT_THROW(ConnectionInfo::parse("cfg:>client_name=x:::", error), std::out_of_range);
}

}  // namespace
}  // namespace ipc_tools
