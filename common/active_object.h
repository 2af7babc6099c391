#pragma once

#include "common/details/active_object_message_queue.h"

#include <exception>
#include <functional>
#include <string>
#include <thread>

namespace common {

// Runs posted tasks one at a time, in posting order, on one named thread of its own. The first
// task that throws is reported to the error handler and ends the thread; later tasks never run.
class ActiveObject {
public:
    using ErrorHandler = std::function<void(const std::exception&)>;

    // Thread "active_object"; failures are logged at error severity.
    ActiveObject();
    // `name` is cut to 15 characters for the thread name.
    ActiveObject(const std::string& name, ErrorHandler error_handler);
    // Runs the tasks posted so far, then joins the thread.
    ~ActiveObject();
    ActiveObject(const ActiveObject&) = delete;
    ActiveObject& operator=(const ActiveObject&) = delete;

    // Queues `task`; returns at once. Callable from any thread.
    void send(std::function<void()> task);

    // Returns once every task posted before it has run (or the thread has failed). Must not be
    // called from a task. A second call returns at once.
    void join();

private:
    void run(const std::string& name);
    void report(const std::exception& error) noexcept;

    details::ActiveObjectMessageQueue<std::function<void()>> m_queue;
    std::thread m_thread;
    ErrorHandler m_error_handler;
    bool m_done = false;  // only the worker thread touches it
};

}  // namespace common
