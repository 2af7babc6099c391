#include "common/contract.h"

#include "support/exception_text.h"
#include "support/log_capture.h"

#include <boost/log/core/core.hpp>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace common::contract {
namespace {

std::string violation_text(bool condition, const std::string& message)
{
    return tamsu_test::exception_text<std::logic_error>([&] { expects(condition, message); });
}

TEST(ContractTest, ViolationThrowsAndLogsTheTextAsAnErrorEvenWhenLoggingIsOff)
{
    tamsu_test::LogCapture capture;
    EXPECT_EQ(violation_text(true, "never shown"), "<no exception>");
    EXPECT_EQ(violation_text(false, ""), "Contract violation.");
    boost::log::core::get()->set_logging_enabled(false);
    EXPECT_EQ(violation_text(false, "unlogged"), "Contract violation. unlogged");
    boost::log::core::get()->set_logging_enabled(true);
    EXPECT_EQ(violation_text(false, "null socket"), "Contract violation. null socket");

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].severity, logging::attributes::SeverityLevel::error);
    EXPECT_EQ(records[1].function, "void common::contract::expects(bool, std::string)");
    EXPECT_EQ(records[1].message, "Contract violation. null socket");
}

}  // namespace
}  // namespace common::contract
