#include "python/log_forwarder.h"

#include "python/interpreter_alive.h"

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/sinks/unlocked_frontend.hpp>
#include <boost/make_shared.hpp>

#include <algorithm>
#include <array>
#include <exception>
#include <string>
#include <utility>

namespace py = pybind11;

namespace tamsu_python {
namespace {

// Python's level for each of the library's channels.
constexpr std::array<std::pair<const char*, int>, 4> k_levels{
        {{"error", 40}, {"warning", 30}, {"info", 20}, {"verbose", 10}}};

// The record's Python level, or 0 for a record of another source than the library.
int python_level(const boost::log::attribute_value_set& values)
{
    static const boost::log::attribute_name channel("Channel");
    const auto name = boost::log::extract<std::string>(channel, values);
    if (!name) {
        return 0;
    }
    for (const auto& [text, level] : k_levels) {
        if (name.get() == text) {
            return level;
        }
    }
    return 0;
}

// A text attribute as a Python string; bytes that are not UTF-8 are replaced.
py::str text_of(const boost::log::record_view& record, const boost::log::attribute_name& name)
{
    const auto value = boost::log::extract<std::string>(name, record);
    static const std::string none;
    const std::string& text = value ? value.get() : none;
    PyObject* decoded =
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (decoded == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(decoded);
}

}  // namespace

void LogForwarder::install()
{
    py::object logger = py::module_::import("logging").attr("getLogger")("tamsu");
    auto forwarder = boost::make_shared<LogForwarder>(std::move(logger));
    auto sink = boost::make_shared<boost::log::sinks::unlocked_sink<LogForwarder>>(forwarder);
    sink->set_filter([forwarder](const boost::log::attribute_value_set& values) {
        return forwarder->accepts(values);
    });
    forwarder->start();
    stop_over_fork(forwarder);
    boost::log::core::get()->add_sink(sink);
    // Python's `logging` registered its own exit handler when imported above; this one runs
    // before it, so the records queued still reach the handlers.
    py::module_::import("atexit").attr("register")(
            py::cpp_function([forwarder] { forwarder->shut_down(); }));
}

LogForwarder::LogForwarder(py::object logger)
        : m_logger(std::move(logger))
{
}

LogForwarder::~LogForwarder()
{
    // Only when the process ends without the exit handler: no GIL then, so leak the reference.
    if (m_logger) {
        m_logger.release();
    }
    if (m_feeding_thread.joinable()) {
        m_feeding_thread.detach();
    }
}

bool LogForwarder::accepts(const boost::log::attribute_value_set& values) const
{
    return python_level(values) != 0 && !m_closed.load(std::memory_order_acquire);
}

void LogForwarder::consume(const boost::log::record_view& record)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() >= k_queue_limit) {
            return;
        }
        m_queue.push_back(record);
    }
    m_wake.notify_one();
}

void LogForwarder::stop_over_fork(const boost::shared_ptr<LogForwarder>& forwarder)
{
    auto restart = py::cpp_function([forwarder] { forwarder->start(); });
    py::module_::import("os").attr("register_at_fork")(
            py::arg("before") = py::cpp_function([forwarder] { forwarder->stop(); }),
            py::arg("after_in_parent") = restart, py::arg("after_in_child") = restart);
}

void LogForwarder::start()
{
    if (m_closed || m_feeding_thread.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = false;
    }
    m_feeding_thread = std::thread([this] { feed(); });
}

void LogForwarder::stop()
{
    if (!m_feeding_thread.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    py::gil_scoped_release release;  // the feeding thread may be waiting for the GIL
    m_feeding_thread.join();
}

void LogForwarder::feed()
{
    std::vector<boost::log::record_view> batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) {
                return;
            }
            batch.swap(m_queue);
        }
        log_to_python(batch);
        batch.clear();
    }
}

void LogForwarder::log_to_python(const std::vector<boost::log::record_view>& records)
{
    if (records.empty() || !interpreter_alive()) {
        return;
    }
    py::gil_scoped_acquire gil;
    if (!m_logger) {
        return;
    }
    for (const auto& record : records) {
        log_one(record);
    }
}

void LogForwarder::log_one(const boost::log::record_view& record)
{
    static const boost::log::attribute_name message("Message");
    static const boost::log::attribute_name function("Function");
    const int level = python_level(record.attribute_values());
    try {
        if (!m_logger.attr("isEnabledFor")(level).cast<bool>()) {
            return;
        }
        py::object entry = m_logger.attr("makeRecord")(m_logger.attr("name"), level, "", 0,
                                                       text_of(record, message), py::tuple(),
                                                       py::none(), text_of(record, function));
        m_logger.attr("handle")(entry);
    } catch (py::error_already_set& error) {
        error.discard_as_unraisable("tamsu log forwarding");
    } catch (const std::exception&) {
        // A logger answering in unexpected types loses the record; the feeding thread goes on.
    }
}

void LogForwarder::shut_down()
{
    // The sink stays in the core, refusing every record, so the default sink never prints.
    m_closed = true;
    stop();
    std::vector<boost::log::record_view> rest;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        rest.swap(m_queue);
    }
    log_to_python(rest);
    m_logger = py::object();
}

}  // namespace tamsu_python
