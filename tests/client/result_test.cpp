#include "client/get_result.h"
#include "client/result.h"
#include "client/status_conversion.h"
#include "ipc_tools/request_broker.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace tamsu {
namespace {

template <typename Enum>
std::string runtime_error_of(Enum value)
{
    return tamsu_test::exception_text<std::runtime_error>([&] { to_string(value); });
}

TEST(ResultTest, TextsMatchTheStreamOutputAndOutOfRangeValuesThrow)
{
    std::ostringstream stream;
    stream << Result::bad_reply << '|' << ConnectionStatus::loading_bed_file << '|'
           << PassReadResult::queue_full << '|' << PassReadResult::invalid_read;
    EXPECT_EQ(stream.str(), "bad_reply|loading_bed_file|queue_full|invalid_read");
    EXPECT_EQ(to_string(Result::success), "success");
    EXPECT_EQ(to_string(Result::align_index_no_seq), "align_index_no_seq");
    EXPECT_EQ(to_string(ConnectionStatus::error), "error");

    EXPECT_EQ(runtime_error_of(static_cast<Result>(15)), "unrecognised Result value");
    EXPECT_EQ(runtime_error_of(static_cast<Result>(-1)), "unrecognised Result value");
    EXPECT_EQ(runtime_error_of(static_cast<ConnectionStatus>(8)), "unrecognised connection status");
    EXPECT_EQ(runtime_error_of(static_cast<PassReadResult>(4)), "unrecognised PassReadResult");
}

TEST(ResultTest, EngineStatusesMapOneForOne)
{
    EXPECT_EQ(to_connection_status(basecall_service::ClientStatus::error), ConnectionStatus::error);
    EXPECT_EQ(to_connection_status(basecall_service::ClientStatus::loading_alignment_index),
              ConnectionStatus::loading_alignment_index);
    try {
        to_connection_status(static_cast<basecall_service::ClientStatus>(8));
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "unrecognised basecall_service::ClientStatus value");
    }
}

template <typename Exception>
std::pair<Result, std::vector<std::string>> outcome_of_throwing(const char* text)
{
    std::vector<std::string> errors;
    const auto result = get_result([&]() -> Result { throw Exception(text); },
                                   [&](std::string error) { errors.push_back(error); });
    return {result, errors};
}

TEST(ResultTest, GetResultTurnsEachExceptionIntoItsCode)
{
    using Errors = std::vector<std::string>;
    EXPECT_EQ(outcome_of_throwing<ipc_tools::TimeoutError>("t"),
              std::make_pair(Result::timed_out, Errors{"t"}));
    EXPECT_EQ(outcome_of_throwing<ipc_tools::BadRequest>("q"),
              std::make_pair(Result::bad_request, Errors{"q"}));
    EXPECT_EQ(outcome_of_throwing<ipc_tools::BadReply>("r"),
              std::make_pair(Result::bad_reply, Errors{"r"}));
    EXPECT_EQ(outcome_of_throwing<ipc_tools::InvalidResponse>("i"),
              std::make_pair(Result::invalid_response, Errors{"i"}));
    EXPECT_EQ(outcome_of_throwing<std::logic_error>("l"),
              std::make_pair(Result::failed, Errors{"l"}));
    EXPECT_EQ(get_result([] { return Result::not_ready; }, [](std::string) { FAIL(); }),
              Result::not_ready);
}

TEST(ResultTest, GetResultLetsNonStandardExceptionsEscape)
{
    bool called = false;
    EXPECT_THROW(get_result([]() -> Result { throw 7; }, [&](std::string) { called = true; }), int);
    EXPECT_FALSE(called);
}

TEST(ResultTest, EmptyOperationFailsAndEmptyErrorHandlerThrows)
{
    std::string error;
    EXPECT_EQ(get_result(nullptr, [&](std::string text) { error = text; }), Result::failed);
    EXPECT_EQ(error, std::bad_function_call().what());
    EXPECT_THROW(get_result([]() -> Result { throw std::runtime_error("x"); }, nullptr),
                 std::bad_function_call);
}

}  // namespace
}  // namespace tamsu
