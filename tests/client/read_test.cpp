#include "client/read.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

namespace tamsu {
namespace {

TEST(ReadTest, NewReadIsEmptyWithMediumPriority)
{
    const Read read;

    EXPECT_EQ(read.get_read_tag(), 0u);
    EXPECT_EQ(read.get_priority(), Read::MEDIUM_PRIORITY);
    EXPECT_TRUE(read.get_metadata().empty());
    EXPECT_TRUE(read.get_datasets().empty());
    EXPECT_FALSE(read.has_alignment_data());
}

TEST(ReadTest, PriorityRules)
{
    Read read;
    read.set_priority(Read::LOW_PRIORITY);
    EXPECT_EQ(read.get_priority(), Read::LOW_PRIORITY);
    read.set_priority(static_cast<Read::Priority>(7));
    EXPECT_EQ(read.get_priority(), Read::LOW_PRIORITY);
    read.set_priority(Read::INVALID_PRIORITY);
    EXPECT_EQ(read.get_priority(), Read::MEDIUM_PRIORITY);
    read.get_readholder().set_priority(9);
    EXPECT_EQ(read.get_priority(), Read::INVALID_PRIORITY);

    EXPECT_EQ(to_string(Read::HIGH_PRIORITY), "HIGH_PRIORITY");
    EXPECT_EQ(to_string(Read::INVALID_PRIORITY), "invalid_priority_value");
    EXPECT_EQ(to_string(static_cast<Read::Priority>(3)), "invalid_priority_value");
}

TEST(ReadTest, MovesAndHolderHandOverKeepTheContent)
{
    Read a;
    a.set_read_tag(42);
    a.get_metadata().insert("read_id", "r42");

    Read b(std::move(a));
    EXPECT_EQ(b.get_read_tag(), 42u);
    EXPECT_EQ(b.get_by_name("read_id"), "r42");

    interfaces::ReadHolder holder;
    holder.set_read_tag(7);
    holder.get_metadata().insert("read_id", "r7");
    b.set_readholder(holder);
    EXPECT_EQ(b.get_read_tag(), 7u);
    EXPECT_EQ(b.get_by_name("read_id"), "r7");
    EXPECT_TRUE(holder.get_metadata().empty());
    EXPECT_EQ(holder.get_read_tag(), 0u);

    Read c;
    c = std::move(b);
    EXPECT_EQ(c.get_read_tag(), 7u);
    c.clear();
    EXPECT_TRUE(c.get_metadata().empty());
}

TEST(ReadTest, AlignmentLinesNeedAlignmentResults)
{
    const Read read;
    EXPECT_EQ(tamsu_test::exception_text<std::runtime_error>(
                      [&] { read.extract_alignment_sam_and_bed_lines(); }),
              "Could not find align results in read holder");
}

}  // namespace
}  // namespace tamsu
