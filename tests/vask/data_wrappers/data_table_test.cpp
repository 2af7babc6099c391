#include "vask/data_wrappers/data_table.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace vask::data_wrappers {
namespace {

std::string runtime_error_text(const std::function<void()>& operation)
{
    return tamsu_test::exception_text<std::runtime_error>(operation);
}

TEST(DataTableTest, FieldsAreAlignedAndRecordsPaddedToEightBytes)
{
    DataTable table;
    EXPECT_EQ(table.record_size, 0u);
    table.add_field("name", DataSetType::fixed_string, 253);
    table.add_field("flag", DataSetType::int8, 1);
    table.add_field("count", DataSetType::int32, 4);

    ASSERT_EQ(table.fields.size(), 3u);
    EXPECT_EQ(table.fields[0].offset, 0u);
    EXPECT_EQ(table.fields[1].offset, 254u);
    EXPECT_EQ(table.fields[2].offset, 256u);
    EXPECT_EQ(table.record_size, 260u);

    table.resize(3);
    EXPECT_EQ(table.record_size, 264u);
    EXPECT_EQ(table.num_records, 3u);
    EXPECT_EQ(table.data.size(), 3u * 264u);
    EXPECT_EQ(std::count(table.data.begin(), table.data.end(), 0), 3 * 264);
}

TEST(DataTableTest, WiderFieldsAlignToTheirOwnWidth)
{
    DataTable table;
    table.add_field("a", DataSetType::uint8, 0);
    table.add_field("b", DataSetType::float64, 0);
    table.add_field("c", DataSetType::uint16, 0);
    table.add_field("d", DataSetType::fixed_string, 2);
    EXPECT_EQ(table.fields[1].size, 8u);
    EXPECT_EQ(table.fields[1].offset, 8u);
    EXPECT_EQ(table.fields[2].offset, 16u);
    EXPECT_EQ(table.fields[3].offset, 20u);  // text aligns to 4
    EXPECT_EQ(table.record_size, 23u);
}

TEST(DataTableTest, AddFieldRejectsBadTypesAndSizesWithoutChangingTheTable)
{
    DataTable table;
    table.add_field("first", DataSetType::int16, 0);

    EXPECT_EQ(runtime_error_text([&] { table.add_field("s", DataSetType::fixed_string, 0); }),
              "Must specify a size for string fields.");
    EXPECT_EQ(runtime_error_text([&] { table.add_field("i", DataSetType::int32, 8); }),
              "Specified type size does not match actual type size.");
    for (const auto type : {DataSetType::string, DataSetType::table, DataSetType::none,
                            static_cast<DataSetType>(-1)}) {
        EXPECT_EQ(runtime_error_text([&] { table.add_field("x", type, 4); }),
                  "Invalid data type for data table field.");
    }
    EXPECT_EQ(table.fields.size(), 1u);
    EXPECT_EQ(table.field_index.size(), 1u);
    EXPECT_EQ(table.record_size, 2u);

    table.add_field("i", DataSetType::int32, 0);
    EXPECT_EQ(table.fields.back().size, 4u);
    EXPECT_EQ(table.fields.back().offset, 4u);
}

TEST(DataTableTest, ReAddingANameKeepsTheOldBytesButIndexesTheNewField)
{
    DataTable table;
    table.add_field("v", DataSetType::int32, 0);
    table.add_field("v", DataSetType::float32, 0);
    table.resize(1);
    EXPECT_EQ(table.fields.size(), 2u);
    EXPECT_EQ(table.field_index.at("v"), 1u);
    EXPECT_EQ(table.record_size, 8u);
    table.view_field<float>("v")[0] = 2.5f;
    float stored = 0;
    std::memcpy(&stored, table.data.data() + 4, sizeof(stored));
    EXPECT_EQ(stored, 2.5f);
}

TEST(DataTableTest, FieldViewsStrideOverRecords)
{
    DataTable table;
    table.add_field("name", DataSetType::fixed_string, 5);
    table.add_field("count", DataSetType::int32, 0);
    table.add_field("score", DataSetType::float32, 0);
    table.resize(2);

    auto counts = table.view_field<int>("count");
    EXPECT_EQ(counts.size, 2u);
    EXPECT_EQ(counts.stride, table.record_size / sizeof(int));
    counts[1] = 42;
    // Only the width is checked: an int32 field reads as float.
    EXPECT_EQ(table.view_field<float>("count").size, 2u);

    auto names = table.view_field<char>("name");
    EXPECT_EQ(names.stride, table.record_size);
    std::strcpy(&names[1], "chr2");

    const DataTable& read_only = table;
    EXPECT_EQ(read_only.view_field<int>("count")[1], 42);
    EXPECT_STREQ(&read_only.view_field<char>("name")[1], "chr2");
    EXPECT_STREQ(&read_only.view_field<char>("name")[0], "");
}

TEST(DataTableTest, FieldViewLookupFailures)
{
    DataTable table;
    table.add_field("flag", DataSetType::int8, 0);
    table.add_field("wide", DataSetType::int64, 0);
    table.resize(1);
    EXPECT_EQ(runtime_error_text([&] { table.view_field<int>("flag"); }),
              "VecView type not compatible with field type.");
    EXPECT_THROW(table.view_field<int>("missing"), std::out_of_range);

    DataTable text;
    text.add_field("name", DataSetType::fixed_string, 3);
    EXPECT_EQ(runtime_error_text([&] { text.view_field<int>("name"); }),
              "VecView type not compatible with field type.");
}

TEST(DataTableTest, TableWithoutRecordsGivesEmptyViews)
{
    DataTable table;
    table.add_field("count", DataSetType::int32, 0);
    table.resize(0);
    const auto view = table.view_field<int>("count");
    EXPECT_EQ(view.size, 0u);
    EXPECT_EQ(view.data, nullptr);
}

TEST(VecViewTest, RejectsZeroStrideThenNullData)
{
    int values[4] = {1, 2, 3, 4};
    const VecView<int> every_other(values, 2, 2);
    EXPECT_EQ(every_other[1], 3);
    EXPECT_EQ(runtime_error_text([] { VecView<int>(nullptr, 1, 0); }), "Stride cannot be zero.");
    EXPECT_EQ(runtime_error_text([] { VecView<int>(nullptr, 1, 1); }),
              "Cannot view nullptr with size > 0");
    EXPECT_NO_THROW(VecView<int>(nullptr, 0, 1));
}

TEST(DataSetTypeTest, TextsAndOutOfRangeValues)
{
    EXPECT_EQ(to_string(DataSetType::int16), "int16");
    EXPECT_EQ(to_string(DataSetType::fixed_string), "fixed_string");
    std::ostringstream stream;
    stream << DataSetType::none;
    EXPECT_EQ(stream.str(), "none");
    EXPECT_EQ(runtime_error_text([] { to_string(static_cast<DataSetType>(14)); }),
              "unrecognised DataSetType value");
    std::ostringstream unused;
    EXPECT_THROW(unused << static_cast<DataSetType>(-1), std::runtime_error);
    EXPECT_TRUE(unused.str().empty());
}

}  // namespace
}  // namespace vask::data_wrappers
