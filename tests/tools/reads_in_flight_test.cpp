#include "tools/reads_in_flight.h"

#include <gtest/gtest.h>

namespace tamsu_cli {
namespace {

// The bookkeeping behind failover: only the reads a lost client still held are handed on, each
// read counts once however often it comes back, and a read dropped everywhere is given up.
TEST(ReadsInFlightTest, HandsOnWhatALostClientHeldAndCountsEachReadOnce)
{
    ReadsInFlight reads(1);
    std::vector<std::uint64_t> tags;
    for (const char* id : {"a", "b", "c"}) {
        tags.push_back(reads.add({id, 0.0f, 1.0f, {1, 2}, {}}));
    }
    reads.assign(tags[0], 0);
    reads.assign(tags[1], 1);
    reads.assign(tags[2], 1);
    EXPECT_TRUE(reads.complete(tags[1]));
    EXPECT_EQ(reads.release(1), 1u);
    ASSERT_EQ(reads.next_requeued(), tags[2]);
    EXPECT_EQ(reads.raw(tags[2]).read_id, "c");
    reads.assign(tags[2], 0);
    EXPECT_FALSE(reads.next_requeued());
    EXPECT_TRUE(reads.complete(tags[2]));
    EXPECT_FALSE(reads.complete(tags[2]));
    EXPECT_FALSE(reads.complete(tags[1]));

    // "a" is handed on once, then given up.
    EXPECT_EQ(reads.release(0), 1u);
    reads.assign(tags[0], 1);
    EXPECT_EQ(reads.release(1), 0u);
    EXPECT_EQ(reads.given_up(), 1u);
    EXPECT_TRUE(reads.empty() && reads.requeue_empty());
}

}  // namespace
}  // namespace tamsu_cli
