#include "basecall_service/request_broker_adapter.h"

#include "support/scripted_peer.h"

#include <gtest/gtest.h>

#include <system_error>

namespace basecall_service {
namespace {

using ipc_tools::Message;
using ipc_tools::MessageType;
using tamsu_test::PeerAction;
using tamsu_test::ScriptedPeer;

template <typename Exception>
ErrorState state_after_throwing(Exception exception)
{
    RequestBrokerAdapter adapter;
    EXPECT_FALSE(adapter.invoke([&] { throw exception; }));
    return adapter.error_state();
}

TEST(RequestBrokerAdapterTest, EachExceptionKindBecomesItsCode)
{
    const auto bad_reply = state_after_throwing(ipc_tools::BadReply("r"));
    const auto bad_request = state_after_throwing(ipc_tools::BadRequest("q"));
    const auto timed_out = state_after_throwing(ipc_tools::TimeoutError("t"));
    const auto invalid = state_after_throwing(ipc_tools::InvalidResponse("i"));
    const auto system = state_after_throwing(
            std::system_error(EAGAIN, std::system_category(), "Client zmq_msg_send failed"));
    const auto zmq_error = state_after_throwing(zmq::error_t());
    const auto other = state_after_throwing(std::logic_error("Contract violation. null socket"));

    EXPECT_EQ(to_string(bad_reply), "[bad_reply] r");
    EXPECT_EQ(to_string(bad_request), "[bad_request] q");
    EXPECT_EQ(to_string(timed_out), "[timed_out] t");
    EXPECT_EQ(to_string(invalid), "[invalid_response] i");
    EXPECT_EQ(system.code, ConnectionError::failed);
    EXPECT_EQ(system.message, "std::system_error[system:" + std::to_string(EAGAIN) + "] : " +
                                      std::system_error(EAGAIN, std::system_category(),
                                                        "Client zmq_msg_send failed")
                                              .what());
    EXPECT_EQ(zmq_error.code, ConnectionError::failed);
    EXPECT_EQ(zmq_error.message.rfind("zmq::error_t : ", 0), 0u);
    EXPECT_EQ(other.code, ConnectionError::failed);
    EXPECT_EQ(other.message, "Contract violation. null socket");
}

TEST(RequestBrokerAdapterTest, TimeoutKeepsTheBrokersTextAndSuccessClearsTheError)
{
    ScriptedPeer peer({PeerAction::silence()});
    RequestBrokerAdapter adapter;
    ASSERT_TRUE(adapter.prepare_connection(peer.address(), 20));
    Message request(MessageType::GET_STATE, "", 0, "");
    Message reply;

    EXPECT_FALSE(adapter.send_request(request, reply));
    EXPECT_EQ(adapter.error_state().code, ConnectionError::timed_out);
    EXPECT_EQ(adapter.error_state().message, "Timeout waiting for reply to request: GET_STATE");

    EXPECT_TRUE(adapter.invoke([] {}));
    EXPECT_EQ(adapter.error_state().code, ConnectionError::no_error);
    EXPECT_EQ(adapter.error_state().message, "");
}

}  // namespace
}  // namespace basecall_service
