#include "common/logger.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <thread>

namespace common::logging {
namespace {

using attributes::SeverityLevel;

TEST(LoggerTest, SeverityNamesRoundTripAndUnknownValuesAreNamedUnknown)
{
    const char* names[] = {"trace", "verbose", "message", "info", "warning", "error"};
    for (int value = 0; value < 6; ++value) {
        const auto level = static_cast<SeverityLevel>(value);
        EXPECT_EQ(attributes::to_string(level), names[value]);
        EXPECT_EQ(attributes::get_severity_by_name(names[value]), level);
        std::ostringstream stream;
        stream << level;
        EXPECT_EQ(stream.str(), names[value]);
    }
    EXPECT_EQ(attributes::to_string(static_cast<SeverityLevel>(6)), "unknown");
}

TEST(LoggerTest, SeverityLookupIsCaseSensitive)
{
    try {
        attributes::get_severity_by_name("Error");
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "unable to find severity for string: Error");
    }
}

TEST(LoggerTest, GlobalLoggersCarryTheirChannelSeverityAndCallingFunction)
{
    tamsu_test::LogCapture capture;

    TAMSU_LOG(error, "e" << 1);
    TAMSU_LOG(warning, "w");
    TAMSU_LOG(info, "i");
    TAMSU_LOG_AS(verbose, "worker_loop", "v");

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].severity, SeverityLevel::error);
    EXPECT_EQ(records[0].channel, "error");
    EXPECT_EQ(records[0].message, "e1");
    EXPECT_NE(records[0].function.find("TestBody"), std::string::npos);
    EXPECT_EQ(records[1].severity, SeverityLevel::warning);
    EXPECT_EQ(records[1].channel, "warning");
    EXPECT_EQ(records[2].severity, SeverityLevel::info);
    EXPECT_EQ(records[2].channel, "info");
    EXPECT_EQ(records[3].severity, SeverityLevel::verbose);
    EXPECT_EQ(records[3].channel, "verbose");
    EXPECT_EQ(records[3].function, "worker_loop");
}

TEST(LoggerTest, MessageIsNotFormattedWhileLoggingIsDisabled)
{
    tamsu_test::LogCapture capture;
    int formatted = 0;
    const auto expensive = [&] {
        ++formatted;
        return "text";
    };
    auto core = boost::log::core::get();
    core->set_logging_enabled(false);

    TAMSU_LOG(error, expensive());

    core->set_logging_enabled(true);
    EXPECT_EQ(formatted, 0);
    EXPECT_TRUE(capture.records().empty());
}

TEST(LoggerTest, EveryThreadSharesOneLoggerInstance)
{
    const auto* here = &error::get();
    const BoostLoggerWrapper* there = nullptr;
    std::thread([&] { there = &error::get(); }).join();
    EXPECT_EQ(here, there);
}

}  // namespace
}  // namespace common::logging
