#pragma once

#include <boost/log/attributes/attribute_value_set.hpp>
#include <boost/log/core/record_view.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/shared_ptr.hpp>

#include <pybind11/pybind11.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace tamsu_python {

// Hands the library's log records to Python's logger "tamsu" (channel error, warning, info and
// verbose as ERROR, WARNING, INFO and DEBUG; the logging function as `funcName`). A library
// thread only queues a record, and drops it rather than wait when the queue is full; a thread of
// the forwarder's own takes the GIL to log them. At interpreter exit the queue is delivered and the
// thread stopped; records after that are dropped, and never reach Boost.Log's default sink (which
// prints them).
class LogForwarder
        : public boost::log::sinks::basic_sink_backend<boost::log::sinks::concurrent_feeding> {
public:
    // Adds the forwarding sink to the process's Boost.Log core; once per process, under the GIL.
    static void install();

    explicit LogForwarder(pybind11::object logger);
    ~LogForwarder();
    LogForwarder(const LogForwarder&) = delete;
    LogForwarder& operator=(const LogForwarder&) = delete;

    // Whether a record is the library's, while the forwarder runs; any thread, no GIL.
    bool accepts(const boost::log::attribute_value_set& values) const;
    // Queues a record for the feeding thread; any thread, never waits for the GIL.
    void consume(const boost::log::record_view& record);

private:
    static constexpr std::size_t k_queue_limit = 10000;

    // The feeding thread is stopped over fork(): a child would wait for it at exit.
    static void stop_over_fork(const boost::shared_ptr<LogForwarder>& forwarder);
    // Start and stop the feeding thread, keeping what is queued; under the GIL.
    void start();
    void stop();
    void feed();
    // Logs records through the Python logger, taking the GIL.
    void log_to_python(const std::vector<boost::log::record_view>& records);
    void log_one(const boost::log::record_view& record);
    // Delivers what is queued, stops the feeding thread and lets go of Python; under the GIL.
    void shut_down();

    // Guarded by the GIL; empty once the interpreter exits.
    pybind11::object m_logger;
    std::atomic<bool> m_closed{false};
    // Guards m_queue and m_stopping; never held while taking the GIL.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<boost::log::record_view> m_queue;
    bool m_stopping = false;
    // Started and stopped under the GIL.
    std::thread m_feeding_thread;
};

}  // namespace tamsu_python
