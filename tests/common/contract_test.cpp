#include "common/contract.h"

#include "support/log_capture.h"

#include "support/exception_text.h"
#include <boost/log/core/core.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace common::contract {
namespace {

using common::logging::attributes::SeverityLevel;

std::string violation_text(bool condition, const std::string& message)
{
    return tamsu_test::exception_text<std::logic_error>([&] { expects(condition, message); });
}

TEST(ContractTest, TrueConditionDoesNothingAndLogsNothing)
{
    tamsu_test::LogCapture capture;

    expects(true, "never shown");
    expects(true, std::string());

    EXPECT_TRUE(capture.records().empty());
}

TEST(ContractTest, ViolationTextHasNoTrailingBlankWithoutMessage)
{
    EXPECT_EQ(violation_text(false, ""), "Contract violation.");
    EXPECT_EQ(violation_text(false, "x"), "Contract violation. x");
}

TEST(ContractTest, LiteralMessagesGiveTheSameText)
{
    EXPECT_THROW(
            {
                try {
                    expects(false, "null socket");
                } catch (const std::logic_error& error) {
                    EXPECT_STREQ(error.what(), "Contract violation. null socket");
                    throw;
                }
            },
            std::logic_error);
}

TEST(ContractTest, ViolationIsLoggedAsErrorWithTheFunctionName)
{
    tamsu_test::LogCapture capture;

    violation_text(false, "process_reads requires valid connection id");

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, SeverityLevel::error);
    EXPECT_EQ(records[0].channel, "error");
    EXPECT_EQ(records[0].function, "void common::contract::expects(bool, std::string)");
    EXPECT_EQ(records[0].message, "Contract violation. process_reads requires valid connection id");
}

TEST(ContractTest, ViolationStillThrowsWhenLoggingIsDisabled)
{
    tamsu_test::LogCapture capture;
    auto core = boost::log::core::get();
    core->set_logging_enabled(false);

    const auto text = violation_text(false, "m");

    core->set_logging_enabled(true);
    EXPECT_EQ(text, "Contract violation. m");
    EXPECT_TRUE(capture.records().empty());
}

}  // namespace
}  // namespace common::contract
