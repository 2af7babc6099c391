#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace common::synchronisation {

// Count-down latch: wait() blocks until count_down() has been called `count` times.
// Thread-safe.
class Latch {
public:
    explicit Latch(std::uint64_t count);

    // Decrements the count unless it is already 0; the call that reaches 0 releases every waiter.
    void count_down();
    void wait();

private:
    std::uint64_t m_count;
    std::mutex m_mutex;  // guards m_count
    std::condition_variable m_released;
};

}  // namespace common::synchronisation
