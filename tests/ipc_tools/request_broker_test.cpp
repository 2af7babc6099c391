#include "ipc_tools/request_broker.h"

#include "support/log_capture.h"
#include "support/scripted_peer.h"
#include "support/server_process.h"
#include "support/temp_directory.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <thread>

namespace ipc_tools {
namespace {

using namespace std::chrono_literals;
using tamsu_test::PeerAction;
using tamsu_test::ScriptedPeer;
using tamsu_test::simple_reply;
using Clock = std::chrono::steady_clock;

template <typename Exception>
std::string failure_text(RequestBroker& broker, Message request, Message& reply)
{
    return tamsu_test::exception_text<Exception>([&] { broker.send_request(request, reply); });
}

TEST(RequestBrokerTest, AddressesBecomeEndpoints)
{
    EXPECT_EQ(RequestBroker::generate_server_address("5555"), "tcp://localhost:5555");
    EXPECT_EQ(RequestBroker::generate_server_address("host:5555"), "tcp://host:5555");
    EXPECT_EQ(RequestBroker::generate_server_address("ipc:///tmp/sock"), "ipc:///tmp/sock");
    EXPECT_EQ(RequestBroker::generate_server_address("ipc://"), "ipc://");
    EXPECT_EQ(RequestBroker::generate_server_address("ipc:/"), "tcp://ipc:/");
}

TEST(RequestBrokerTest, SilentServerTimesOutAfterFourWaitsAndAResetBrokerWorksAgain)
{
    ScriptedPeer peer(
            {PeerAction::silence(), PeerAction::reply(simple_reply(MessageType::SUCCESS))});
    RequestBroker broker;
    broker.prepare_connection(peer.address(), 100);
    Message reply;

    const auto start = Clock::now();
    const auto text = failure_text<TimeoutError>(
            broker, Message(MessageType::GET_STATISTICS, "", 0, ""), reply);
    const auto elapsed = Clock::now() - start;

    EXPECT_EQ(text, "Timeout waiting for reply to request: GET_STATISTICS");
    EXPECT_GE(elapsed, 380ms);
    EXPECT_LT(elapsed, 20s);
    broker.reset();
    Message again(MessageType::LOAD_INDEX, "", 0, "/i");
    broker.send_request(again, reply);
    EXPECT_EQ(reply.get_type(), MessageType::SUCCESS);
}

TEST(RequestBrokerTest, AStopEndsWaitsOnASilentServerButNotAnExchangeItAnswers)
{
    // Four waits of 10 s each would be 40 s; after a stop, a wait lasts a short grace.
    struct Case {
        const char* name;
        bool stop_first;  // as for a farewell; otherwise the stop comes during the wait
        PeerAction answer;
        MessageType expected;
    };
    const Case cases[] = {
            {"stop during the wait", false, PeerAction::silence(), MessageType::UNSET},
            {"request after the stop", true, PeerAction::silence(), MessageType::UNSET},
            {"answered within the grace", true,
             PeerAction::reply(simple_reply(MessageType::DISCONNECTED), 20ms),
             MessageType::DISCONNECTED},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        ScriptedPeer peer({test.answer});
        RequestBroker broker;
        broker.prepare_connection(peer.address(), 10000);
        if (test.stop_first) {
            broker.request_stop();
        }
        std::thread stopper([&] {
            if (peer.wait_for_requests(1)) {
                broker.request_stop();
            }
        });
        Message request(MessageType::DISCONNECT, "id", 0, "");
        Message reply;

        const auto start = Clock::now();
        const auto text = tamsu_test::exception_text([&] { broker.send_request(request, reply); });
        const auto elapsed = Clock::now() - start;
        stopper.join();

        EXPECT_EQ(reply.get_type(), test.expected);
        EXPECT_EQ(text, test.expected == MessageType::UNSET
                                ? "Timeout waiting for reply to request: DISCONNECT"
                                : "<no exception>");
        EXPECT_LT(elapsed / 1ms, 10000);
    }
}

TEST(RequestBrokerTest, ReplyArrivingDuringALaterWaitIsAccepted)
{
    // Waits of 600 ms each: the reply comes during the third one, 900 ms before the budget ends.
    ScriptedPeer peer(
            {PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, "{}"), 1500ms)});
    RequestBroker broker;
    broker.prepare_connection(peer.address(), 600);
    Message request(MessageType::GET_STATE, "", 0, "");
    Message reply;

    broker.send_request(request, reply);

    EXPECT_EQ(reply.get_type(), MessageType::RETURN_STATE);
}

TEST(RequestBrokerTest, BadRequestCarriesTheServersReasonAndTheNextReplyIsHandedBack)
{
    ScriptedPeer peer({PeerAction::reply(simple_reply(MessageType::BAD_REQUEST, 0, "bad")),
                       PeerAction::reply(simple_reply(MessageType::SUCCESS))});
    RequestBroker broker;
    broker.prepare_connection(peer.address(), 2000);
    Message reply;

    EXPECT_EQ(
            failure_text<BadRequest>(broker, Message(MessageType::LOAD_CONFIG, "", 0, "x"), reply),
            "Bad request message: LOAD_CONFIG. bad");
    EXPECT_EQ(reply.get_type(), MessageType::BAD_REQUEST);

    Message next(MessageType::LOAD_BED, "", 0, "/b.bed");
    broker.send_request(next, reply);
    EXPECT_EQ(reply.get_type(), MessageType::SUCCESS);
    EXPECT_TRUE(next.empty());
    ASSERT_EQ(peer.requests().size(), 2u);
    EXPECT_EQ(peer.requests()[1].type, MessageType::LOAD_BED);
    EXPECT_EQ(peer.requests()[1].text, "/b.bed");
}

TEST(RequestBrokerTest, UnreadableRepliesAreBadReplies)
{
    ScriptedPeer peer({PeerAction::raw({0, 0, 0, 0, '0', '0', '0', '6'}),
                       PeerAction::raw({1, 2, 3}),
                       PeerAction::raw({12, 0, 0, 0, '0', '0', '0', '7', 0, 0, 0, 0})});
    RequestBroker broker;
    broker.prepare_connection(peer.address(), 2000);
    Message reply;

    EXPECT_EQ(tamsu_test::exception_text<BadReply>([&] { broker.ping_server_if_quiet("id"); }),
              "Could not interpret message from server for request: HEARTBEAT_PING. Reply: "
              "INVALID_PROTOCOL");
    for (const auto type : {MessageType::GET_CONFIGS, MessageType::GET_INDICES}) {
        EXPECT_EQ(failure_text<BadReply>(broker, Message(type, "", 0, ""), reply),
                  "Could not interpret message from server for request: " +
                          message_type_as_string(type) + ". Reply: UNSET");
    }
}

TEST(RequestBrokerTest, ClientNotRecognisedIsTreatedAsALostServer)
{
    ScriptedPeer peer({PeerAction::reply(simple_reply(MessageType::CLIENT_NOT_RECOGNISED))});
    RequestBroker broker;
    broker.prepare_connection(peer.address(), 2000);
    tamsu_test::LogCapture capture;
    Message reply;

    const auto text = failure_text<TimeoutError>(
            broker, Message(MessageType::GET_FIRST_CALLED_BLOCK, "id", 0, ""), reply);

    const std::string expected =
            "Received CLIENT_NOT_RECOGNISED from server. Treating as a server restart.";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(reply.get_type(), MessageType::CLIENT_NOT_RECOGNISED);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].channel, "info");
    EXPECT_EQ(records[0].message, expected);
}

TEST(RequestBrokerTest, HeartbeatIsSentOnlyAfterAQuietSecond)
{
    ScriptedPeer peer({PeerAction::reply(simple_reply(MessageType::SUCCESS)),
                       PeerAction::reply(simple_reply(MessageType::HEARTBEAT_ECHO)),
                       PeerAction::reply(simple_reply(MessageType::SUCCESS))});
    RequestBroker broker;
    broker.prepare_connection(peer.address(), 2000);
    Message request(MessageType::LOAD_CONFIG, "", 0, "cfg");
    Message reply;
    broker.send_request(request, reply);

    broker.ping_server_if_quiet("conn-1");
    EXPECT_EQ(peer.requests().size(), 1u);

    std::this_thread::sleep_for(1100ms);
    broker.ping_server_if_quiet("conn-1");
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].type, MessageType::HEARTBEAT_PING);
    EXPECT_EQ(requests[1].connection_id, "conn-1");

    std::this_thread::sleep_for(1100ms);
    try {
        broker.ping_server_if_quiet("conn-1");
        FAIL() << "no exception";
    } catch (const InvalidResponse& error) {
        EXPECT_STREQ(error.what(),
                     "invalid response from server, expected: HEARTBEAT_ECHO, received: SUCCESS");
    }
}

TEST(RequestBrokerTest, TalksToTheServerExecutableOverTcpAndIpc)
{
    tamsu_test::TempDirectory directory;
    const auto ipc_endpoint = "ipc://" + directory.file("server.sock");
    tamsu_test::ServerProcess tcp_server({"tcp://127.0.0.1:*"});
    tamsu_test::ServerProcess ipc_server({ipc_endpoint});
    const auto tcp_endpoint = tcp_server.wait_for_endpoint();
    ASSERT_EQ(tcp_endpoint.rfind("tcp://127.0.0.1:", 0), 0u) << tcp_endpoint;
    ASSERT_EQ(ipc_server.wait_for_endpoint(), ipc_endpoint);

    for (const auto& address : {tcp_endpoint.substr(6), ipc_endpoint}) {
        SCOPED_TRACE(address);
        RequestBroker broker;
        broker.prepare_connection(address, 5000);
        Message request(MessageType::LOAD_CONFIG, "", 0, "toy_flipflop_fast");
        Message reply;
        broker.send_request(request, reply);
        EXPECT_EQ(reply.get_type(), MessageType::SUCCESS);
        Message state(MessageType::GET_STATE, "", 0, "");
        broker.send_request(state, reply);
        EXPECT_EQ(reply.get_type(), MessageType::RETURN_STATE);
        EXPECT_EQ(reply.get_protocol_version().major(), 7u);
    }
    EXPECT_EQ(tcp_server.stop(SIGTERM), 0);
    EXPECT_EQ(ipc_server.stop(SIGTERM), 0);
}

}  // namespace
}  // namespace ipc_tools
