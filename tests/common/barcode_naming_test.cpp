#include "common/barcode_naming.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace common::barcode_naming {
namespace {

using namespace std::string_literals;

TEST(BarcodeNamingTest, FormatsTakeFlagsWidthAndLiteralPercentSignsUpToANul)
{
    EXPECT_EQ(generate_normalised_id("barcode%02i", 7, false), "barcode07");
    EXPECT_EQ(generate_normalised_id("%%RB%-3d|", 4, false), "%RB4  |");
    EXPECT_EQ(generate_normalised_id("NB%u", 12, true), "NB12a");
    EXPECT_EQ(generate_normalised_id("BC%99.99d", 7, false).size(), 101u);
    EXPECT_EQ(generate_normalised_id("BC%02d\0ab"s, 3, false), "BC03");
    EXPECT_EQ(generate_dual_normalised_id("BC103", "NB07"), "barcode_external03_internal07");
    EXPECT_THROW(generate_dual_normalised_id("B", "NB07"), std::out_of_range);
}

TEST(BarcodeNamingTest, FormatsNeedExactlyOneIntegerConversionOfAtMostTwoDigitWidths)
{
    // printf stops at a NUL, so an unfinished "%02" before one must not count as a conversion.
    for (const std::string& format :
         {"%s"s, "BC%02d%d"s, "plain"s, "%ld"s, "%n"s, "BC%"s, "BC%999999999d"s, "BC%.100d"s,
          "BC%0100d"s, "BC%02\0"s, "BC%\0d"s}) {
        SCOPED_TRACE(format);
        EXPECT_THROW(generate_normalised_id(format, 1, false), std::invalid_argument);
    }
}

}  // namespace
}  // namespace common::barcode_naming
