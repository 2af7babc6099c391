#include "client/get_result.h"
#include "client/result.h"
#include "ipc_tools/request_broker.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace tamsu {
namespace {

TEST(ResultTest, TextsAreTheEnumeratorNamesAndOutOfRangeValuesThrow)
{
    std::ostringstream stream;
    stream << Result::align_index_no_seq << '|' << ConnectionStatus::preparing_connection << '|'
           << PassReadResult::invalid_read << '|' << to_string(Result::bad_reply);
    EXPECT_EQ(stream.str(), "align_index_no_seq|preparing_connection|invalid_read|bad_reply");
    const auto text = [](auto value) {
        return tamsu_test::exception_text<std::runtime_error>([&] { to_string(value); });
    };
    EXPECT_EQ(text(static_cast<Result>(15)), "unrecognised Result value");
    EXPECT_EQ(text(static_cast<Result>(-1)), "unrecognised Result value");
    EXPECT_EQ(text(static_cast<ConnectionStatus>(8)), "unrecognised connection status");
    EXPECT_EQ(text(static_cast<PassReadResult>(4)), "unrecognised PassReadResult");
}

TEST(ResultTest, GetResultTurnsEachExceptionIntoItsCodeAndReportsItsText)
{
    const auto outcome = [](auto error) {
        std::string text;
        const auto result = get_result([&]() -> Result { throw error; },
                                       [&](std::string error_text) { text = error_text; });
        return to_string(result) + " " + text;
    };
    EXPECT_EQ(outcome(ipc_tools::TimeoutError("t")), "timed_out t");
    EXPECT_EQ(outcome(ipc_tools::BadRequest("q")), "bad_request q");
    EXPECT_EQ(outcome(ipc_tools::BadReply("r")), "bad_reply r");
    EXPECT_EQ(outcome(ipc_tools::InvalidResponse("i")), "invalid_response i");
    EXPECT_EQ(outcome(std::logic_error("l")), "failed l");
}

}  // namespace
}  // namespace tamsu
