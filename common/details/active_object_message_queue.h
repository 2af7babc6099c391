#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

namespace common::details {

// Unbounded multi-producer queue; receive blocks until a task is there.
template <typename Task>
class ActiveObjectMessageQueue {
public:
    void send(Task task)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_not_empty.notify_one();
    }

    Task receive()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_not_empty.wait(lock, [this] { return !m_tasks.empty(); });
        Task task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

private:
    std::mutex m_mutex;  // guards m_tasks
    std::deque<Task> m_tasks;
    std::condition_variable m_not_empty;
};

}  // namespace common::details
