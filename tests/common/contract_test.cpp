#include "common/contract.h"

#include "support/exception_text.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace common::contract {
namespace {

// A kept contract is seen passing wherever production states one.
TEST(ContractTest, ViolationThrowsAndLogsTheTextAsAnError)
{
    tamsu_test::LogCapture capture;
    const auto violation = [](const std::string& message) {
        return tamsu_test::exception_text<std::logic_error>([&] { expects(false, message); });
    };
    EXPECT_EQ(violation(""), "Contract violation.");
    EXPECT_EQ(violation("null socket"), "Contract violation. null socket");

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].severity, logging::attributes::SeverityLevel::error);
    EXPECT_EQ(records[1].message, "Contract violation. null socket");
}

}  // namespace
}  // namespace common::contract
