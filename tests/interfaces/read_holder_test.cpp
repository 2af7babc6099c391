#include "interfaces/read_holder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace interfaces {
namespace {

using vask::data_wrappers::DataSetType;
using vask::data_wrappers::DataView;

void expect_default(const ReadHolder& holder)
{
    EXPECT_EQ(holder.get_read_tag(), 0u);
    EXPECT_EQ(holder.get_priority(), 1u);
    EXPECT_TRUE(holder.get_metadata().empty());
    EXPECT_TRUE(holder.get_datasets().empty());
}

ReadHolder filled_holder()
{
    ReadHolder holder;
    holder.set_read_tag(42);
    holder.set_priority(2);
    holder.get_metadata().insert("read_id", "read_1");
    std::vector<std::int16_t> signal{1, 2, 3};
    holder.get_datasets().emplace(dataset::raw_data, DataView(signal, true));
    return holder;
}

TEST(ReadHolderTest, NewHolderIsEmptyWithMiddlePriority)
{
    expect_default(ReadHolder());
}

TEST(ReadHolderTest, MoveTransfersEverythingAndResetsTheSource)
{
    ReadHolder source = filled_holder();
    const void* samples = source.get_datasets().at(dataset::raw_data).data;

    ReadHolder moved(std::move(source));
    expect_default(source);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(moved.get_read_tag(), 42u);
    EXPECT_EQ(moved.get_priority(), 2u);
    EXPECT_EQ(moved.get_metadata().get_value<std::string>("read_id"), "read_1");
    const DataView& raw = moved.get_datasets().at(dataset::raw_data);
    EXPECT_EQ(raw.data, samples);
    EXPECT_EQ(raw.get_array<std::int16_t>()[2], 3);

    ReadHolder assigned;
    assigned.get_metadata().insert<int>("stale", 1);
    assigned = std::move(moved);
    expect_default(moved);  // NOLINT(bugprone-use-after-move)
    EXPECT_FALSE(assigned.get_metadata().exists("stale"));
    EXPECT_EQ(assigned.get_read_tag(), 42u);
    EXPECT_EQ(assigned.get_datasets().at(dataset::raw_data).element_count, 3u);
}

TEST(ReadHolderTest, ClearResetsEverything)
{
    ReadHolder holder = filled_holder();
    holder.clear();
    expect_default(holder);
}

TEST(ReadHolderTest, GetByNameFormatsEachStoredType)
{
    ReadHolder holder;
    auto& metadata = holder.get_metadata();
    metadata.insert("read_id", "abc");
    metadata.insert("empty", "");
    metadata.insert("flag", true);
    metadata.insert("off", false);
    metadata.insert<signed char>("schar", 65);
    metadata.insert<unsigned char>("uchar", 200);
    metadata.insert<unsigned int>("uint", 3000000000u);
    metadata.insert<long>("long", -1);
    metadata.insert<unsigned long>("ulong", std::numeric_limits<unsigned long>::max());
    metadata.insert<float>("float", 1.25f);
    metadata.insert<double>("double", 0.5);
    metadata.insert<long long>("other", 1);

    EXPECT_EQ(holder.get_by_name("read_id"), "abc");
    EXPECT_EQ(holder.get_by_name("empty"), "");
    EXPECT_EQ(holder.get_by_name("flag"), "TRUE");
    EXPECT_EQ(holder.get_by_name("off"), "FALSE");
    EXPECT_EQ(holder.get_by_name("schar"), "65");
    EXPECT_EQ(holder.get_by_name("uchar"), "200");
    EXPECT_EQ(holder.get_by_name("uint"), "3000000000");
    EXPECT_EQ(holder.get_by_name("long"), "-1");
    EXPECT_EQ(holder.get_by_name("ulong"), "18446744073709551615");
    EXPECT_EQ(holder.get_by_name("float"), "1.250000");
    EXPECT_EQ(holder.get_by_name("double"), "0.500000");
    EXPECT_EQ(holder.get_by_name("other"), "unsupported_type");
    EXPECT_EQ(holder.get_by_name("absent"), "");
}

TEST(ReadHolderTest, GetByNameShowsSpecialFloatingPointValuesAsZero)
{
    ReadHolder holder;
    auto& metadata = holder.get_metadata();
    metadata.insert("nan", std::numeric_limits<float>::quiet_NaN());
    metadata.insert("inf", std::numeric_limits<double>::infinity());
    metadata.insert("-inf", -std::numeric_limits<double>::infinity());
    EXPECT_EQ(holder.get_by_name("nan"), "0");
    EXPECT_EQ(holder.get_by_name("inf"), "0");
    EXPECT_EQ(holder.get_by_name("-inf"), "0");
}

TEST(DatasetTest, NamesAndNumbering)
{
    EXPECT_EQ(static_cast<std::uint32_t>(dataset::raw_data), 0u);
    EXPECT_EQ(static_cast<std::uint32_t>(dataset::run_values_0), 13u);
    EXPECT_EQ(static_cast<std::uint32_t>(dataset::align_results), 18u);
    EXPECT_EQ(to_string(dataset::run_values_1), "run_values_1");
    EXPECT_EQ(to_string(dataset::base_mod_probs), "base_mod_probs");
    std::ostringstream stream;
    stream << dataset::align_results;
    EXPECT_EQ(stream.str(), "align_results");
    for (const std::uint32_t unnamed : {1u, 5u, 19u}) {
        try {
            to_string(static_cast<dataset>(unnamed));
            FAIL() << unnamed;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "unrecognised dataset value");
        }
    }
}

}  // namespace
}  // namespace interfaces
