#include "common/value_formatter.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace common {
namespace {

// The configuration reads use for their text summaries.
const ValueFormatter summary(-1, -1, "0", "0", "0", "", "TRUE", "FALSE", false);

TEST(ValueFormatterTest, IntegersPrintAsDecimalNumbers)
{
    EXPECT_EQ(summary.format(static_cast<signed char>(65)), "65");
    EXPECT_EQ(summary.format(static_cast<signed char>(-128)), "-128");
    EXPECT_EQ(summary.format(static_cast<unsigned char>(255)), "255");
    EXPECT_EQ(summary.format(static_cast<short>(-300)), "-300");
    EXPECT_EQ(summary.format(static_cast<unsigned short>(65535)), "65535");
    EXPECT_EQ(summary.format(-7), "-7");
    EXPECT_EQ(summary.format(4294967295u), "4294967295");
    EXPECT_EQ(summary.format(-1L), "-1");
    EXPECT_EQ(summary.format(std::numeric_limits<long>::min()), "-9223372036854775808");
    EXPECT_EQ(summary.format(18446744073709551615UL), "18446744073709551615");
}

TEST(ValueFormatterTest, FloatingPointWithoutPrecisionUsesSixDecimals)
{
    EXPECT_EQ(summary.format(0.5), "0.500000");
    EXPECT_EQ(summary.format(1.25f), "1.250000");
    EXPECT_EQ(summary.format(-2.0000004), "-2.000000");
    EXPECT_EQ(summary.format(std::numeric_limits<double>::max()).size(), 316u);
}

TEST(ValueFormatterTest, SpecialFloatingPointValuesUseTheirTexts)
{
    EXPECT_EQ(summary.format(std::numeric_limits<float>::quiet_NaN()), "0");
    EXPECT_EQ(summary.format(std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(summary.format(-std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(summary.format(-std::numeric_limits<float>::infinity()), "0");

    const ValueFormatter named(-1, -1, "NaN", "+inf", "-inf", "", "", "", false);
    EXPECT_EQ(named.format(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(named.format(std::numeric_limits<float>::infinity()), "+inf");
    EXPECT_EQ(named.format(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(named.format(std::numeric_limits<double>::max()).substr(0, 4), "1797");

    // Without a text the value is printed like any other.
    const ValueFormatter plain(-1, -1, "", "", "", "", "", "", false);
    EXPECT_EQ(plain.format(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(plain.format(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(ValueFormatterTest, PrecisionSelectsStreamFormattingPerType)
{
    const ValueFormatter general(2, 4, "", "", "", "", "", "", false);
    EXPECT_EQ(general.format(3.14159f), "3.1");
    EXPECT_EQ(general.format(3.14159), "3.142");
    EXPECT_EQ(general.format(1234567.0), "1.235e+06");

    const ValueFormatter fixed(2, 0, "", "", "", "", "", "", true);
    EXPECT_EQ(fixed.format(3.14159f), "3.14");
    EXPECT_EQ(fixed.format(2.6), "3");
}

TEST(ValueFormatterTest, TextAndBooleanReplacements)
{
    EXPECT_EQ(summary.format(true), "TRUE");
    EXPECT_EQ(summary.format(false), "FALSE");
    EXPECT_EQ(summary.format(std::string("abc")), "abc");
    EXPECT_EQ(summary.format(std::string()), "");

    const ValueFormatter numeric_bools(-1, -1, "", "", "", "n/a", "", "", false);
    EXPECT_EQ(numeric_bools.format(true), "1");
    EXPECT_EQ(numeric_bools.format(false), "0");
    EXPECT_EQ(numeric_bools.format(std::string()), "n/a");
}

TEST(ValueFormatterTest, AnyDispatchesOnTheHeldType)
{
    EXPECT_EQ(summary.format_any(boost::any(static_cast<unsigned char>(65))), "65");
    EXPECT_EQ(summary.format_any(boost::any(std::string("x"))), "x");
    EXPECT_EQ(summary.format_any(boost::any(true)), "TRUE");
    EXPECT_EQ(summary.format_any(boost::any(2.0f)), "2.000000");
    EXPECT_EQ(summary.format_any(boost::any(-5L)), "-5");
    EXPECT_EQ(summary.format_any(boost::any(5LL)), "unsupported_type");
    EXPECT_EQ(summary.format_any(boost::any()), "unsupported_type");
}

}  // namespace
}  // namespace common
