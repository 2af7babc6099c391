#include "vask/data_wrappers/metadata.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vask::data_wrappers {
namespace {

TEST(MetadataTest, TagReadsReferenceTheStoredValue)
{
    Metadata metadata;
    metadata.insert<unsigned long>("duration", 1000);
    metadata.insert<unsigned long>("model_stride", 5);

    EXPECT_EQ(metadata.get<read_data::duration>(), 1000u);
    EXPECT_EQ(metadata.get<basecall_data::model_stride>(), 5u);
    metadata.get<read_data::duration>() = 2000;
    EXPECT_EQ(metadata.get_value<unsigned long>("duration"), 2000u);
}

TEST(MetadataTest, TagReadOfAbsentOrDifferentlyTypedKeyThrows)
{
    Metadata metadata;
    try {
        metadata.get<read_data::duration>();
        FAIL() << "no exception";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "Key 'duration' not found.");
    }

    metadata.insert<int>("model_stride", 5);
    try {
        metadata.get<basecall_data::model_stride>();
        FAIL() << "no exception";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "Key 'model_stride' not found.");
    }
}

TEST(MetadataTest, SchemaConstructionKeepsOnlyConformingEntries)
{
    MapWrapper values;
    values.insert("config_name", "fast");
    values.insert<float>("qscore_offset", 1.0f);
    values.insert<int>("stray", 1);

    const Metadata filtered(std::move(values), {{"config_name", typeid(std::string)},
                                                {"qscore_offset", typeid(double)}});
    EXPECT_TRUE(values.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(filtered.size(), 1u);
    EXPECT_EQ(filtered.get_value<std::string>("config_name"), "fast");

    MapWrapper more;
    more.insert<int>("a", 1);
    more.insert<long>("b", 2);
    const Metadata unfiltered(std::move(more), {});
    EXPECT_EQ(unfiltered.size(), 2u);
}

}  // namespace
}  // namespace vask::data_wrappers
