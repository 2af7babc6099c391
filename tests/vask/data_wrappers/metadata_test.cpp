#include "vask/data_wrappers/metadata.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

namespace vask::data_wrappers {
namespace {

TEST(MetadataTest, TagsReferenceTheValueStoredWithTheirOwnType)
{
    Metadata metadata;
    metadata.insert<unsigned long>("duration", 1000);
    metadata.insert<int>("model_stride", 5);
    metadata.get<read_data::duration>() = 2000;
    EXPECT_EQ(metadata.get_value<unsigned long>("duration"), 2000u);
    EXPECT_EQ(tamsu_test::exception_text<std::out_of_range>(
                      [&] { metadata.get<basecall_data::model_stride>(); }),
              "Key 'model_stride' not found.");
}

}  // namespace
}  // namespace vask::data_wrappers
