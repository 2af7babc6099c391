#pragma once

#include "common/logger.h"

#include <boost/log/core/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>

#include <boost/shared_ptr.hpp>

#include <mutex>
#include <string>
#include <vector>

namespace tamsu_test {

struct CapturedRecord {
    common::logging::attributes::SeverityLevel severity;
    std::string channel;
    std::string function;
    std::string message;
};

// Collects every log record pushed while it exists, through a sink on the global core.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<CapturedRecord> records() const;

private:
    struct Backend;
    using Sink = boost::log::sinks::synchronous_sink<Backend>;

    boost::shared_ptr<Backend> m_backend;
    boost::shared_ptr<Sink> m_sink;
};

}  // namespace tamsu_test
