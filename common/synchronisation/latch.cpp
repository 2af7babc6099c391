#include "common/synchronisation/latch.h"

namespace common::synchronisation {

Latch::Latch(std::uint64_t count)
        : m_count(count)
{
}

void Latch::count_down()
{
    bool released = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_count > 0) {
            released = --m_count == 0;
        }
    }
    if (released) {
        m_released.notify_all();
    }
}

void Latch::wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_released.wait(lock, [this] { return m_count == 0; });
}

}  // namespace common::synchronisation
