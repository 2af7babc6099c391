#include "client/barcode_kit_definition.h"
#include "client/lamp_kit_definition.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tamsu::server_query {
namespace {

// Naming in range is checked against the server's kits in server_query_test.
TEST(BarcodeKitDefinitionTest, NamesOutsideTheRangeThrowAndKitsWithoutARangeGiveTheirFormat)
{
    const BarcodeKitDefinition dual("D", 1, 96, 1, 96, true, true, false, "BC%02d");
    const LampKitDefinition lamp("L", 1, 5, "FIP%02d", {});
    const auto text = [](auto call) { return tamsu_test::exception_text<std::out_of_range>(call); };

    EXPECT_EQ(text([&] { dual.generate_barcode_name(3, 97); }),
              "get_inner_barcode index 97 out of range [1 .. 96]");
    EXPECT_EQ(text([&] { lamp.generate_barcode_name(6); }),
              "get_barcode index 6 out of range [1 .. 5]");
    EXPECT_NE(
            text([&] { dual.generate_barcode_name(0, 5); }).find(" index 0 out of range [1 .. 96]"),
            std::string::npos);
    EXPECT_EQ(BarcodeKitDefinition("K", -1, 12, 0, 0, true, false, false, "unclassified")
                      .generate_barcode_name(1000, -7),
              "unclassified");
    EXPECT_EQ(BarcodeKitDefinition("K", 5, 4, 0, 0, false, false, false, "fmt%d")
                      .generate_barcode_name(1, 1),
              "fmt%d");
    EXPECT_EQ(LampKitDefinition("L", -1, 5, "none", {}).generate_barcode_name(99), "none");
}

}  // namespace
}  // namespace tamsu::server_query
