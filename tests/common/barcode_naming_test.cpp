#include "common/barcode_naming.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace common::barcode_naming {
namespace {

TEST(BarcodeNamingTest, FormatsTakeFlagsWidthAndLiteralPercentSigns)
{
    EXPECT_EQ(generate_normalised_id("barcode%02i", 7, false), "barcode07");
    EXPECT_EQ(generate_normalised_id("%%RB%-3d|", 4, false), "%RB4  |");
    EXPECT_EQ(generate_normalised_id("NB%u", 12, true), "NB12a");
}

TEST(BarcodeNamingTest, FormatsThatWouldReadMissingArgumentsAreRefused)
{
    for (const char* format : {"%s", "BC%02d%d", "plain", "%ld", "%n", "BC%"}) {
        SCOPED_TRACE(format);
        EXPECT_THROW(generate_normalised_id(format, 1, false), std::invalid_argument);
    }
}

TEST(BarcodeNamingTest, AConversionCutShortByANulIsRefused)
{
    // printf stops at the NUL and would see the unfinished "%02"; the check must not count it.
    for (const auto& format : {std::string("BC%02\0", 6), std::string("BC%\0d", 5)}) {
        EXPECT_THROW(generate_normalised_id(format, 1, false), std::invalid_argument);
    }
    EXPECT_EQ(generate_normalised_id(std::string("BC%02d\0ab", 9), 3, false), "BC03");
}

TEST(BarcodeNamingTest, WidthsAndPrecisionsBeyondTwoDigitsAreRefused)
{
    EXPECT_EQ(generate_normalised_id("BC%99.99d", 7, false).size(), 101u);
    for (const char* format : {"BC%999999999d", "BC%.100d", "BC%0100d"}) {
        SCOPED_TRACE(format);
        EXPECT_THROW(generate_normalised_id(format, 1, false), std::invalid_argument);
    }
}

TEST(BarcodeNamingTest, DualIdsUseTheLastTwoCharactersOfEachName)
{
    EXPECT_EQ(generate_dual_normalised_id("BC103", "NB07"), "barcode_external03_internal07");
    EXPECT_THROW(generate_dual_normalised_id("B", "NB07"), std::out_of_range);
}

}  // namespace
}  // namespace common::barcode_naming
