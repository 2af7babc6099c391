#include "client/read.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

namespace tamsu {
namespace {

TEST(ReadTest, PriorityRulesAndTexts)
{
    Read read;
    EXPECT_EQ(read.get_priority(), Read::MEDIUM_PRIORITY);
    read.set_priority(Read::LOW_PRIORITY);
    read.set_priority(static_cast<Read::Priority>(7));
    EXPECT_EQ(read.get_priority(), Read::LOW_PRIORITY);
    read.set_priority(Read::INVALID_PRIORITY);
    EXPECT_EQ(read.get_priority(), Read::MEDIUM_PRIORITY);
    read.get_readholder().set_priority(9);
    EXPECT_EQ(read.get_priority(), Read::INVALID_PRIORITY);
    EXPECT_EQ(to_string(Read::HIGH_PRIORITY), "HIGH_PRIORITY");
    EXPECT_EQ(to_string(static_cast<Read::Priority>(3)), "invalid_priority_value");
    EXPECT_EQ(tamsu_test::exception_text<std::runtime_error>(
                      [&] { read.extract_alignment_sam_and_bed_lines(); }),
              "Could not find align results in read holder");
}

}  // namespace
}  // namespace tamsu
