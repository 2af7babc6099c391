#include "vask/data_wrappers/data_table.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

namespace vask::data_wrappers {
namespace {

TEST(DataTableTest, FieldsAlignToTheirWidthAndRecordsPadToEightBytes)
{
    DataTable table;
    table.add_field("short", DataSetType::uint16, 0);
    table.add_field("name", DataSetType::fixed_string, 2);
    table.add_field("real", DataSetType::float64, 0);
    table.add_field("flag", DataSetType::uint8, 0);
    EXPECT_EQ(table.fields[1].offset, 4u);  // text aligns to 4
    EXPECT_EQ(table.fields[2].offset, 8u);
    EXPECT_EQ(table.record_size, 17u);
    table.resize(3);
    EXPECT_EQ(table.record_size, 24u);
    EXPECT_EQ(table.view_field<unsigned short>("short").stride, 12u);
}

TEST(DataTableTest, BadFieldsAndViewsAreRejectedWithTheirTexts)
{
    DataTable table;
    table.add_field("flag", DataSetType::int8, 0);
    table.add_field("name", DataSetType::fixed_string, 3);
    table.resize(1);
    const std::pair<std::function<void()>, std::string> failures[] = {
            {[&] { table.add_field("s", DataSetType::fixed_string, 0); },
             "Must specify a size for string fields."},
            {[&] { table.add_field("i", DataSetType::int32, 8); },
             "Specified type size does not match actual type size."},
            {[&] { table.add_field("x", DataSetType::string, 4); },
             "Invalid data type for data table field."},
            {[&] { table.view_field<int>("flag"); },
             "VecView type not compatible with field type."},
            {[] { to_string(static_cast<DataSetType>(14)); }, "unrecognised DataSetType value"}};
    for (std::size_t i = 0; i < std::size(failures); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tamsu_test::exception_text<std::runtime_error>(failures[i].first),
                  failures[i].second);
    }
    EXPECT_EQ(table.fields.size(), 2u);  // failed additions leave the layout alone
    EXPECT_EQ(table.record_size, 8u);
    EXPECT_THROW(table.view_field<int>("missing"), std::out_of_range);
}

}  // namespace
}  // namespace vask::data_wrappers
