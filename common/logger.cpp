#include "common/logger.h"

#include "common/enum_names.h"

#include <boost/log/keywords/channel.hpp>
#include <boost/log/keywords/severity.hpp>

#include <array>
#include <stdexcept>

namespace common::logging {

namespace attributes {

namespace {
constexpr std::array<const char*, 6> k_severity_names{"trace", "verbose", "message",
                                                      "info",  "warning", "error"};
}  // namespace

std::string to_string(SeverityLevel level)
{
    const char* name = common::enum_name(k_severity_names, level);
    return name ? name : "unknown";
}

std::ostream& operator<<(std::ostream& stream, SeverityLevel level)
{
    return stream << to_string(level);
}

SeverityLevel get_severity_by_name(const std::string& name)
{
    for (std::size_t index = 0; index < k_severity_names.size(); ++index) {
        if (name == k_severity_names[index]) {
            return static_cast<SeverityLevel>(index);
        }
    }
    throw std::runtime_error("unable to find severity for string: " + name);
}

namespace names {
const boost::log::attribute_name& function()
{
    static const boost::log::attribute_name name("Function");
    return name;
}
}  // namespace names

}  // namespace attributes

BoostLoggerWrapper::BoostLoggerWrapper(const std::string& channel,
                                       attributes::SeverityLevel default_severity)
        : severity_channel_logger_mt(boost::log::keywords::channel = channel,
                                     boost::log::keywords::severity = default_severity)
{
}

using attributes::SeverityLevel;

BOOST_LOG_GLOBAL_LOGGER_INIT(error, BoostLoggerWrapper)
{
    return BoostLoggerWrapper("error", SeverityLevel::error);
}

BOOST_LOG_GLOBAL_LOGGER_INIT(warning, BoostLoggerWrapper)
{
    return BoostLoggerWrapper("warning", SeverityLevel::warning);
}

BOOST_LOG_GLOBAL_LOGGER_INIT(info, BoostLoggerWrapper)
{
    return BoostLoggerWrapper("info", SeverityLevel::info);
}

BOOST_LOG_GLOBAL_LOGGER_INIT(verbose, BoostLoggerWrapper)
{
    return BoostLoggerWrapper("verbose", SeverityLevel::verbose);
}

}  // namespace common::logging
