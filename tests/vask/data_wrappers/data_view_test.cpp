#include "vask/data_wrappers/data_view.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vask::data_wrappers {
namespace {

std::string runtime_error_text(const std::function<void()>& operation)
{
    return tamsu_test::exception_text<std::runtime_error>(operation);
}

TEST(DataViewTest, OwnedStorageMovesInAndStaysWithTheMovedView)
{
    std::string text = "ACGT";
    DataView source(text, true);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(source.element_size, 5u);
    const DataView kept(std::move(source));
    EXPECT_EQ(source.owner, nullptr);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(kept.get_string(), "ACGT");
    EXPECT_STREQ(static_cast<const char*>(kept.data), "ACGT");
}

TEST(DataViewTest, ArrayAndStringAccessNeedTheViewedType)
{
    std::vector<std::int16_t> signal{1, 2};
    const DataView raw(signal, false);
    EXPECT_EQ(raw.get_array<std::int16_t>(), signal.data());
    EXPECT_EQ(runtime_error_text([&] { raw.get_array<std::uint16_t>(); }),
              "Invalid array type requested.");
    EXPECT_THROW(raw.get_string(), std::runtime_error);
}

TEST(DataViewTest, RebuildingATableRejectsMalformedFieldLists)
{
    DataTable table;
    table.add_field("count", DataSetType::int32, 0);
    table.resize(1);
    DataView view(std::move(table));
    view.fields.push_back(Field{"bad", DataSetType::string, 4, 0});
    EXPECT_EQ(runtime_error_text([&] { view.to_table(); }),
              "Invalid data type for data table field.");
    view.fields.back() = Field{"extra", DataSetType::int64, 8, 0};  // beyond the viewed records
    EXPECT_THROW(view.to_table(), std::runtime_error);
}

}  // namespace
}  // namespace vask::data_wrappers
