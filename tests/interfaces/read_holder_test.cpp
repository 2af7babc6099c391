#include "interfaces/read_holder.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace interfaces {
namespace {

TEST(ReadHolderTest, GetByNameGivesSummaryTexts)
{
    ReadHolder holder;
    const auto text_of = [&](auto value) {
        holder.get_metadata().insert("k", value);
        return holder.get_by_name("k");
    };
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(text_of("abc"), "abc");
    EXPECT_EQ(text_of(true), "TRUE");
    EXPECT_EQ(text_of(false), "FALSE");
    EXPECT_EQ(text_of(static_cast<signed char>(-128)), "-128");
    EXPECT_EQ(text_of(std::numeric_limits<unsigned long>::max()), "18446744073709551615");
    EXPECT_EQ(text_of(1.25f), "1.250000");
    EXPECT_EQ(text_of(std::numeric_limits<float>::quiet_NaN()), "0");
    EXPECT_EQ(text_of(inf), "0");
    EXPECT_EQ(text_of(1LL), "unsupported_type");
    EXPECT_EQ(holder.get_by_name("absent"), "");
}

TEST(DatasetTest, NamesAndNumbering)
{
    EXPECT_EQ(static_cast<std::uint32_t>(dataset::align_results), 18u);
    EXPECT_EQ(to_string(dataset::base_mod_probs), "base_mod_probs");
    for (const std::uint32_t unnamed : {1u, 5u, 19u}) {
        EXPECT_EQ(tamsu_test::exception_text<std::runtime_error>(
                          [&] { to_string(static_cast<dataset>(unnamed)); }),
                  "unrecognised dataset value")
                << unnamed;
    }
}

}  // namespace
}  // namespace interfaces
