#include "common/contract.h"

#include "support/exception_text.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace common::contract {
namespace {

std::string violation_text(bool condition, const std::string& message)
{
    return tamsu_test::exception_text<std::logic_error>([&] { expects(condition, message); });
}

TEST(ContractTest, ViolationThrowsAndLogsTheTextAsAnError)
{
    tamsu_test::LogCapture capture;
    EXPECT_EQ(violation_text(true, "never shown"), "<no exception>");
    EXPECT_EQ(violation_text(false, ""), "Contract violation.");
    EXPECT_EQ(violation_text(false, "null socket"), "Contract violation. null socket");

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].severity, logging::attributes::SeverityLevel::error);
    EXPECT_EQ(records[1].message, "Contract violation. null socket");
}

}  // namespace
}  // namespace common::contract
