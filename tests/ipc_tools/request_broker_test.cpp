#include "ipc_tools/request_broker.h"

#include "support/exception_text.h"
#include "support/log_capture.h"
#include "support/scripted_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace ipc_tools {
namespace {

using namespace std::chrono_literals;
using tamsu_test::PeerAction;
using tamsu_test::simple_reply;
using Clock = std::chrono::steady_clock;

// A broker connected to a scripted peer.
struct Exchange {
    Exchange(std::vector<PeerAction> script, unsigned int timeout_ms)
            : peer(std::move(script))
    {
        broker.prepare_connection(peer.address(), timeout_ms);
    }

    // The reply's type, or the failure's kind and text as the layers above tell them apart.
    std::string outcome(MessageType type, const std::string& text = "")
    {
        try {
            Message request(type, "id", 0, text);
            broker.send_request(request, reply);
            return "reply " + message_type_as_string(reply.get_type());
        } catch (const TimeoutError& error) {
            return std::string("timeout: ") + error.what();
        } catch (const BadRequest& error) {
            return std::string("bad request: ") + error.what();
        } catch (const BadReply& error) {
            return std::string("bad reply: ") + error.what();
        }
    }

    tamsu_test::ScriptedPeer peer;
    RequestBroker broker;
    Message reply;
};

TEST(RequestBrokerTest, AddressesBecomeEndpoints)
{
    EXPECT_EQ(RequestBroker::generate_server_address("5555"), "tcp://localhost:5555");
    EXPECT_EQ(RequestBroker::generate_server_address("host:5555"), "tcp://host:5555");
    EXPECT_EQ(RequestBroker::generate_server_address("ipc:///tmp/sock"), "ipc:///tmp/sock");
    EXPECT_EQ(RequestBroker::generate_server_address("ipc://"), "ipc://");
    EXPECT_EQ(RequestBroker::generate_server_address("ipc:/"), "tcp://ipc:/");
}

TEST(RequestBrokerTest, AReplyIsAwaitedForFourWaitsAndAResetBrokerWorksAgainAfterNone)
{
    // Waits of 500 ms: the late reply comes during the third one, 800 ms before the budget ends.
    Exchange exchange({PeerAction::silence(),
                       PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, "{}"), 1200ms)},
                      500);

    const auto start = Clock::now();
    const auto text = exchange.outcome(MessageType::GET_STATISTICS);
    const auto elapsed = Clock::now() - start;

    EXPECT_EQ(text, "timeout: Timeout waiting for reply to request: GET_STATISTICS");
    EXPECT_GE(elapsed, 1900ms);
    EXPECT_LT(elapsed, 20s);
    exchange.broker.reset();
    EXPECT_EQ(exchange.outcome(MessageType::GET_STATE), "reply RETURN_STATE");
}

TEST(RequestBrokerTest, AStopEndsWaitsOnASilentServerButNotAnExchangeItAnswers)
{
    // Four waits of 10 s each would be 40 s; after a stop, a wait lasts a short grace.
    const std::string timeout = "timeout: Timeout waiting for reply to request: DISCONNECT";
    // Whether the stop comes first (as for a farewell) or during the wait; the answer.
    const std::tuple<bool, PeerAction, std::string> cases[] = {
            {false, PeerAction::silence(), timeout},
            {true, PeerAction::silence(), timeout},
            {true, PeerAction::reply(simple_reply(MessageType::DISCONNECTED), 20ms),
             "reply DISCONNECTED"},
    };
    for (const auto& [stop_first, answer, expected] : cases) {
        SCOPED_TRACE(expected + (stop_first ? ", stopped first" : ", stopped while waiting"));
        Exchange exchange({answer}, 10000);
        if (stop_first) {
            exchange.broker.request_stop();
        }
        std::thread stopper([&] {
            if (exchange.peer.wait_for_requests(1)) {
                exchange.broker.request_stop();
            }
        });

        const auto start = Clock::now();
        EXPECT_EQ(exchange.outcome(MessageType::DISCONNECT), expected);
        EXPECT_LT((Clock::now() - start) / 1ms, 10000);
        stopper.join();
    }
}

TEST(RequestBrokerTest, FailureRepliesThrowTheirKindWithExactTextsAndTheNextReplyIsHandedBack)
{
    const std::string lost = "Received CLIENT_NOT_RECOGNISED from server. Treating as a server "
                             "restart.";
    const std::string unreadable = "bad reply: Could not interpret message from server for "
                                   "request: ";
    Exchange exchange({PeerAction::reply(simple_reply(MessageType::BAD_REQUEST, 0, "bad")),
                       PeerAction::raw({0, 0, 0, 0, '0', '0', '0', '6'}),
                       PeerAction::raw({0xff, 0xff, 0xff, 0x7f, '0', '0', '0', '7', 0, 0, 0, 0}),
                       PeerAction::reply(simple_reply(MessageType::CLIENT_NOT_RECOGNISED)),
                       PeerAction::reply(simple_reply(MessageType::SUCCESS))},
                      2000);
    tamsu_test::LogCapture capture;
    const std::vector<std::tuple<MessageType, std::string, MessageType>> cases{
            {MessageType::LOAD_CONFIG, "bad request: Bad request message: LOAD_CONFIG. bad",
             MessageType::BAD_REQUEST},
            // The reply holds what came, as it was classified: no stale one is left behind.
            {MessageType::GET_CONFIGS, unreadable + "GET_CONFIGS. Reply: INVALID_PROTOCOL",
             MessageType::INVALID_PROTOCOL},
            {MessageType::GET_STATE, unreadable + "GET_STATE. Reply: UNSET", MessageType::UNSET},
            // The engine requeues its reads on a time-out, as for a restarted server.
            {MessageType::GET_FIRST_CALLED_BLOCK, "timeout: " + lost,
             MessageType::CLIENT_NOT_RECOGNISED},
            {MessageType::LOAD_BED, "reply SUCCESS", MessageType::SUCCESS},
    };
    for (const auto& [type, expected, reply] : cases) {
        SCOPED_TRACE(message_type_as_string(type));
        EXPECT_EQ(exchange.outcome(type, "/b.bed"), expected);
        EXPECT_EQ(exchange.reply.get_type(), reply);
    }
    ASSERT_EQ(exchange.peer.requests().size(), cases.size());
    EXPECT_EQ(exchange.peer.requests().back().text, "/b.bed");
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].channel, "info");
    EXPECT_EQ(records[0].message, lost);
}

TEST(RequestBrokerTest, HeartbeatIsSentOnlyAfterAQuietSecond)
{
    Exchange exchange({PeerAction::reply(simple_reply(MessageType::SUCCESS)),
                       PeerAction::reply(simple_reply(MessageType::HEARTBEAT_ECHO)),
                       PeerAction::reply(simple_reply(MessageType::SUCCESS))},
                      2000);
    EXPECT_EQ(exchange.outcome(MessageType::LOAD_CONFIG, "cfg"), "reply SUCCESS");

    EXPECT_GT(exchange.broker.time_until_ping(), 0ms);
    EXPECT_LE(exchange.broker.time_until_ping(), 1000ms);
    exchange.broker.ping_server_if_quiet("conn-1");
    EXPECT_EQ(exchange.peer.requests().size(), 1u);

    std::this_thread::sleep_for(1100ms);
    EXPECT_LT(exchange.broker.time_until_ping(), 0ms);
    exchange.broker.ping_server_if_quiet("conn-1");
    const auto requests = exchange.peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].type, MessageType::HEARTBEAT_PING);
    EXPECT_EQ(requests[1].connection_id, "conn-1");

    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(tamsu_test::exception_text<InvalidResponse>(
                      [&] { exchange.broker.ping_server_if_quiet("conn-1"); }),
              "invalid response from server, expected: HEARTBEAT_ECHO, received: SUCCESS");
}

}  // namespace
}  // namespace ipc_tools
