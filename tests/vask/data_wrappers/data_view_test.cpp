#include "vask/data_wrappers/data_view.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace vask::data_wrappers {
namespace {

// Owned text and moves are read back end to end through every called sequence.
TEST(DataViewTest, ArrayAndStringAccessNeedTheViewedType)
{
    std::vector<std::int16_t> signal{1, 2};
    const DataView raw(signal, false);
    EXPECT_EQ(raw.get_array<std::int16_t>(), signal.data());
    EXPECT_EQ(
            tamsu_test::exception_text<std::runtime_error>([&] { raw.get_array<std::uint16_t>(); }),
            "Invalid array type requested.");
    EXPECT_THROW(raw.get_string(), std::runtime_error);
}

}  // namespace
}  // namespace vask::data_wrappers
