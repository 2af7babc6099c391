#include "vask/data_wrappers/data_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vask::data_wrappers {
namespace {

// Counts live instances so tests can see when owned storage is destroyed.
struct Tracked {
    static int live;
    Tracked() { ++live; }
    Tracked(Tracked&&) { ++live; }
    ~Tracked() { --live; }
};
int Tracked::live = 0;

TEST(DataViewTest, StringViewTakesOrBorrowsTheText)
{
    std::string text = "abc";
    DataView owning(text, true);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(owning.type, DataSetType::string);
    EXPECT_EQ(owning.element_size, 4u);
    EXPECT_EQ(owning.element_count, 1u);
    EXPECT_NE(owning.owner, nullptr);
    EXPECT_EQ(owning.get_string(), "abc");
    EXPECT_STREQ(static_cast<const char*>(owning.data), "abc");

    std::string kept = "hello";
    const DataView borrowing(kept, false);
    EXPECT_EQ(kept, "hello");
    EXPECT_EQ(borrowing.object, &kept);
    EXPECT_EQ(borrowing.owner, nullptr);
    EXPECT_EQ(borrowing.element_size, 6u);
}

TEST(DataViewTest, VectorViewsDescribeTheirElements)
{
    std::vector<float> values{1.0f, 2.0f, 3.0f};
    const float* first = values.data();
    const DataView floats(values, true);
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(floats.type, DataSetType::float32);
    EXPECT_EQ(floats.element_size, 4u);
    EXPECT_EQ(floats.element_count, 3u);
    EXPECT_EQ(floats.rows, 0u);
    EXPECT_EQ(floats.get_array<float>(), first);  // moved, not copied

    std::vector<unsigned int> counts{7, 8};
    const DataView borrowed(counts, false);
    EXPECT_EQ(counts.size(), 2u);
    EXPECT_EQ(borrowed.type, DataSetType::uint32);
    EXPECT_EQ(borrowed.get_array<unsigned int>(), counts.data());

    const std::int16_t signal[] = {-3, 4, 5};
    const DataView raw(signal, 3);
    EXPECT_EQ(raw.type, DataSetType::int16);
    EXPECT_EQ(raw.element_size, 2u);
    EXPECT_EQ(raw.get_array<std::int16_t>()[2], 5);
}

TEST(DataViewTest, ArrayAccessRequiresTheExactElementType)
{
    std::vector<std::int16_t> signal{1, 2};
    const DataView raw(signal, false);
    EXPECT_NO_THROW(raw.get_array<std::int16_t>());
    try {
        raw.get_array<std::uint16_t>();
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Invalid array type requested.");
    }
    EXPECT_THROW(raw.get_string(), std::runtime_error);
    EXPECT_THROW(DataView().get_array<std::int16_t>(), std::runtime_error);
}

TEST(DataViewTest, MatrixViewKeepsShapeAndAlwaysTakesStorage)
{
    std::vector<unsigned char> storage(3 * 8);
    storage[8 + 2] = 9;
    MatView<unsigned char> matrix;
    matrix.view(storage.data(), 3, 8, 8, 1);
    EXPECT_EQ(matrix(1, 2), 9);

    const DataView view(matrix, storage);
    EXPECT_TRUE(storage.empty());
    EXPECT_EQ(view.type, DataSetType::uint8);
    EXPECT_EQ(view.element_size, 1u);
    EXPECT_EQ(view.element_count, 24u);
    EXPECT_EQ(view.rows, 3u);
    EXPECT_EQ(view.columns, 8u);
    EXPECT_EQ(view.get_array<unsigned char>()[8 + 2], 9);
}

TEST(DataViewTest, MatViewRejectsZeroStridesNamingBoth)
{
    const float values[2] = {};
    MatView<float> matrix;
    try {
        matrix.view(values, 1, 2, 8, 0);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Strides (8,0) cannot be zero.");
    }
    EXPECT_EQ(matrix.data, nullptr);
    EXPECT_THROW(matrix.view(values, 1, 2, 0, 1), std::runtime_error);
}

TEST(DataViewTest, TableViewOwnsTheTableAndRoundTrips)
{
    DataTable table;
    table.add_field("name", DataSetType::fixed_string, 5);
    table.add_field("count", DataSetType::int32, 0);
    table.resize(2);
    table.view_field<int>("count")[1] = 11;
    std::strcpy(&table.view_field<char>("name")[0], "chr1");

    const DataView view(std::move(table));
    EXPECT_EQ(view.type, DataSetType::table);
    EXPECT_EQ(view.element_size, 16u);
    EXPECT_EQ(view.element_count, 2u);
    ASSERT_EQ(view.fields.size(), 2u);
    EXPECT_EQ(view.fields[1].name, "count");

    const DataTable copy = view.to_table();
    EXPECT_EQ(copy.record_size, 16u);
    EXPECT_EQ(copy.num_records, 2u);
    EXPECT_EQ(copy.view_field<int>("count")[1], 11);
    EXPECT_STREQ(&copy.view_field<char>("name")[0], "chr1");
    EXPECT_NE(copy.data.data(), view.data);
}

TEST(DataViewTest, RebuildingATableRejectsMalformedFieldLists)
{
    DataTable table;
    table.add_field("count", DataSetType::int32, 0);
    table.resize(1);
    DataView view(std::move(table));

    view.fields.push_back(Field{"bad", DataSetType::string, 4, 0});
    try {
        view.to_table();
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for data table field.");
    }

    // A layout larger than the viewed records must not be copied.
    view.fields.back() = Field{"extra", DataSetType::int64, 8, 0};
    EXPECT_THROW(view.to_table(), std::runtime_error);
}

TEST(DataViewTest, MovedViewsKeepDescribingStorageThatOutlivesTheSource)
{
    std::map<int, DataView> datasets;
    {
        std::string text = "ACGT";
        DataView source(text, true);
        source.metadata.insert<int>("k", 1);
        datasets.emplace(0, std::move(source));
        EXPECT_EQ(source.owner, nullptr);  // NOLINT(bugprone-use-after-move)
        EXPECT_TRUE(source.metadata.empty());
        EXPECT_EQ(source.type, DataSetType::string);
    }
    const DataView& kept = datasets.at(0);
    EXPECT_EQ(kept.get_string(), "ACGT");
    EXPECT_STREQ(static_cast<const char*>(kept.data), "ACGT");
    EXPECT_EQ(kept.metadata.get_value<int>("k"), 1);

    std::vector<float> values{0.5f};
    DataView target(values, true);
    target = std::move(datasets.at(0));
    EXPECT_EQ(target.get_string(), "ACGT");
}

TEST(DataViewTest, ClearAndAssignmentDestroyOwnedStorage)
{
    const std::vector<Tracked> unrelated(2);
    DataView view;
    {
        std::vector<Tracked> owned(3);
        EXPECT_EQ(Tracked::live, 5);
        view.owner = std::make_unique<DataView::Owner<std::vector<Tracked>>>(std::move(owned));
    }
    EXPECT_EQ(Tracked::live, 5);
    view.metadata.insert("k", "v");

    view.clear();
    EXPECT_EQ(Tracked::live, 2);
    EXPECT_EQ(view.type, DataSetType::none);
    EXPECT_EQ(view.data, nullptr);
    EXPECT_EQ(view.owner, nullptr);
    EXPECT_TRUE(view.metadata.empty());
    EXPECT_EQ(view.element_count, 0u);

    view.owner = std::make_unique<DataView::Owner<std::vector<Tracked>>>(std::vector<Tracked>(1));
    EXPECT_EQ(Tracked::live, 3);
    view = DataView();
    EXPECT_EQ(Tracked::live, 2);
}

}  // namespace
}  // namespace vask::data_wrappers
