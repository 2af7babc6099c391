#include "client/barcode_kit_definition.h"
#include "client/lamp_kit_definition.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tamsu::server_query {
namespace {

template <typename Call>
std::string out_of_range_text(Call call)
{
    return tamsu_test::exception_text<std::out_of_range>(call);
}

TEST(BarcodeKitDefinitionTest, TwelveAFlagNamesOnlyBarcodeTwelveDifferently)
{
    const BarcodeKitDefinition flagged("K", 1, 12, 0, 0, false, false, true, "BC%02d");
    const BarcodeKitDefinition plain("K", 1, 12, 0, 0, false, false, false, "BC%02d");

    EXPECT_EQ(flagged.generate_barcode_name(12, 0), "BC12a");
    EXPECT_EQ(flagged.generate_barcode_name(11, 0), "BC11");
    EXPECT_EQ(plain.generate_barcode_name(12, 0), "BC12");
}

TEST(BarcodeKitDefinitionTest, DualKitsNamePairsOfOuterAndInnerBarcodes)
{
    const BarcodeKitDefinition dual("D", 1, 96, 1, 96, true, true, false, "BC%02d");

    EXPECT_EQ(dual.generate_barcode_name(3, 5), "barcode_external03_internal05");
    EXPECT_EQ(out_of_range_text([&] { dual.generate_barcode_name(3, 97); }),
              "get_inner_barcode index 97 out of range [1 .. 96]");
    EXPECT_NE(out_of_range_text([&] { dual.generate_barcode_name(0, 5); }).find("0"),
              std::string::npos);
}

TEST(BarcodeKitDefinitionTest, KitWithoutValidRangeAnswersItsFormat)
{
    const BarcodeKitDefinition negative("K", -1, 12, 0, 0, true, false, false, "unclassified");
    const BarcodeKitDefinition reversed("K", 5, 4, 0, 0, false, false, false, "fmt%d");

    EXPECT_EQ(negative.generate_barcode_name(1000, -7), "unclassified");
    EXPECT_EQ(reversed.generate_barcode_name(1, 1), "fmt%d");
}

TEST(BarcodeKitDefinitionTest, OuterBarcodeOutsideTheRangeThrowsWithIndexAndRange)
{
    const BarcodeKitDefinition kit("K", 1, 12, 0, 0, false, false, false, "BC%02d");

    const auto text = out_of_range_text([&] { kit.generate_barcode_name(13, 0); });

    EXPECT_NE(text.find("13"), std::string::npos);
    EXPECT_NE(text.find("[1 .. 12]"), std::string::npos);
}

TEST(BarcodeKitDefinitionTest, CopiesShareTheirState)
{
    const BarcodeKitDefinition kit("KIT", 1, 2, 3, 4, true, true, false, "f%d");
    const BarcodeKitDefinition copy = kit;

    EXPECT_EQ(copy.kit_name(), "KIT");
    EXPECT_EQ(copy.first_inner_index(), 3);
    EXPECT_EQ(copy.last_inner_index(), 4);
    EXPECT_TRUE(copy.is_dual());
    EXPECT_TRUE(copy.is_both_ends());
}

TEST(LampKitDefinitionTest, NamesBarcodesInRangeAndReportsOthers)
{
    const LampKitDefinition kit("L", 1, 5, "FIP%02d", {"t1", "t2"});

    EXPECT_EQ(kit.generate_barcode_name(5), "FIP05");
    EXPECT_EQ(out_of_range_text([&] { kit.generate_barcode_name(6); }),
              "get_barcode index 6 out of range [1 .. 5]");
    EXPECT_EQ(kit.targets(), (std::vector<std::string>{"t1", "t2"}));
    EXPECT_EQ(LampKitDefinition("L", -1, 5, "none", {}).generate_barcode_name(99), "none");
}

}  // namespace
}  // namespace tamsu::server_query
