#include "common/synchronisation/latch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace common::synchronisation {
namespace {

TEST(LatchTest, EveryWaiterIsReleasedOnlyWhenTheCountReachesZero)
{
    Latch latch(2);
    std::atomic<int> released{0};
    const auto wait = [&] {
        latch.wait();
        ++released;
    };
    std::thread first(wait), second(wait);
    latch.count_down();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(released.load(), 0);
    latch.count_down();
    first.join();
    second.join();
    latch.wait();  // at zero it returns at once
}

}  // namespace
}  // namespace common::synchronisation
