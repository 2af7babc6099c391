#include "basecall_service/request_broker_adapter.h"

#include "ipc_tools/request_broker.h"

#include <gtest/gtest.h>

#include <functional>
#include <system_error>

namespace basecall_service {
namespace {

TEST(RequestBrokerAdapterTest, EachExceptionKindBecomesItsCode)
{
    const std::system_error send_failed(EAGAIN, std::system_category(), "zmq_msg_send failed");
    const std::vector<std::pair<std::function<void()>, std::string>> cases{
            {[] { throw ipc_tools::BadReply("r"); }, "[bad_reply] r"},
            {[] { throw ipc_tools::BadRequest("q"); }, "[bad_request] q"},
            {[] { throw ipc_tools::TimeoutError("t"); }, "[timed_out] t"},
            {[] { throw ipc_tools::InvalidResponse("i"); }, "[invalid_response] i"},
            {[&] { throw send_failed; },
             "[failed] std::system_error[system:" + std::to_string(EAGAIN) +
                     "] : " + send_failed.what()},
            {[] { throw zmq::error_t(); }, "[failed] zmq::error_t : "},
            {[] { throw std::logic_error("Contract violation. x"); },
             "[failed] Contract violation. x"},
    };
    for (const auto& [action, text] : cases) {
        SCOPED_TRACE(text);
        RequestBrokerAdapter adapter;
        EXPECT_FALSE(adapter.invoke(action));
        // The zmq library's own text follows the prefix.
        EXPECT_EQ(to_string(adapter.error_state()).substr(0, text.size()), text);
        EXPECT_TRUE(adapter.invoke([] {}));
        EXPECT_EQ(to_string(adapter.error_state()), "[no_error] ");
    }
}

}  // namespace
}  // namespace basecall_service
