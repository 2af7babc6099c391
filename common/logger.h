#pragma once

#include <boost/current_function.hpp>
#include <boost/log/attributes/attribute_name.hpp>
#include <boost/log/attributes/constant.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/sources/global_logger_storage.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_channel_logger.hpp>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

// The library's log records go to the host's Boost.Log core through four global loggers. The
// library configures no sinks, filters or formatters: the host owns all of that.
namespace common::logging {

namespace attributes {

enum class SeverityLevel : std::uint8_t {
    trace = 0,
    verbose = 1,
    message = 2,
    info = 3,
    warning = 4,
    error = 5,
};

// The severity's name ("error"), or "unknown" for a value outside the scale.
std::string to_string(SeverityLevel level);
std::ostream& operator<<(std::ostream& stream, SeverityLevel level);

// Exact, case-sensitive inverse of to_string; throws std::runtime_error for any other text.
SeverityLevel get_severity_by_name(const std::string& name);

namespace names {
// The name of the per-record attribute that carries the logging function's name.
const boost::log::attribute_name& function();
}  // namespace names

}  // namespace attributes

// A thread-safe logger with a severity and a text channel.
class BoostLoggerWrapper
        : public boost::log::sources::severity_channel_logger_mt<attributes::SeverityLevel,
                                                                 std::string> {
public:
    BoostLoggerWrapper(const std::string& channel, attributes::SeverityLevel default_severity);
};

// Created on first use and shared by every thread of the process.
BOOST_LOG_GLOBAL_LOGGER(error, BoostLoggerWrapper)
BOOST_LOG_GLOBAL_LOGGER(warning, BoostLoggerWrapper)
BOOST_LOG_GLOBAL_LOGGER(info, BoostLoggerWrapper)
BOOST_LOG_GLOBAL_LOGGER(verbose, BoostLoggerWrapper)

// Pushes one record at the logger's default severity, with the "Function" attribute. The
// message is written only when the core has logging enabled and a sink wants the record.
template <typename Writer>
void emit(BoostLoggerWrapper& logger, const char* function, Writer&& write_message)
{
    if (!boost::log::core::get()->get_logging_enabled()) {
        return;
    }
    boost::log::record record = logger.open_record();
    if (!record) {
        return;
    }
    record.attribute_values().insert(
            attributes::names::function(),
            boost::log::attributes::make_constant(std::string(function)).get_value());
    {
        boost::log::record_ostream stream(record);
        write_message(stream.stream());
        stream.flush();
    }
    logger.push_record(std::move(record));
}

}  // namespace common::logging

// Logs `expression` (anything streamable, e.g. "text " << value) through one of the global
// loggers: TAMSU_LOG(error, "failed: " << what). The expression is not evaluated when nothing
// would receive the record.
#define TAMSU_LOG_AS(logger_tag, function_name, expression)                                        \
    ::common::logging::emit(                                                                       \
            ::common::logging::logger_tag::get(), function_name,                                   \
            [&](std::ostream& tamsu_log_stream) { tamsu_log_stream << expression; })

#define TAMSU_LOG(logger_tag, expression)                                                          \
    TAMSU_LOG_AS(logger_tag, BOOST_CURRENT_FUNCTION, expression)
