#include "common/synchronisation/latch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace common::synchronisation {
namespace {

TEST(LatchTest, WaitersAreReleasedWhenTheCountReachesZero)
{
    Latch latch(2);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            latch.wait();
            ++released;
        });
    }

    latch.count_down();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(released.load(), 0);
    latch.count_down();
    for (auto& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(released.load(), 3);
}

TEST(LatchTest, CountingDownAtZeroChangesNothing)
{
    Latch latch(1);
    latch.count_down();
    latch.count_down();
    latch.wait();
    Latch open(0);
    open.wait();
}

}  // namespace
}  // namespace common::synchronisation
