#include "client/server_query.h"

#include "support/scripted_peer.h"

#include <gtest/gtest.h>

namespace tamsu::server_query {
namespace {

using ipc_tools::MessageType;
using tamsu_test::PeerAction;
using tamsu_test::ScriptedPeer;
using tamsu_test::simple_reply;

TEST(ServerQueryTest, ServerInformationIsTheCompactMemberOfTheState)
{
    const std::string state = R"({"Other": 1, "ServerInformation": { "version" : "7.0.0",
                                  "clients": [ 1, 2 ] }})";
    ScriptedPeer peer({PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, state)),
                       PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, state))});
    std::string info;
    std::string whole;

    EXPECT_EQ(get_server_information(info, peer.address(), 2000), Result::success);
    EXPECT_EQ(get_server_internal_state(whole, peer.address(), 2000), Result::success);

    EXPECT_EQ(info, R"({"version":"7.0.0","clients":[1,2]})");
    EXPECT_EQ(whole, state);
}

TEST(ServerQueryTest, StateWithoutServerInformationFailsAndLeavesTheOutputAlone)
{
    ScriptedPeer peer({PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, "{}")),
                       PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, "not json"))});
    std::string info = "unchanged";

    EXPECT_EQ(get_server_information(info, peer.address(), 2000), Result::failed);
    EXPECT_EQ(get_server_information(info, peer.address(), 2000), Result::failed);
    EXPECT_EQ(info, "unchanged");
}

TEST(ServerQueryTest, FailuresBecomeResultCodes)
{
    ScriptedPeer peer({PeerAction::reply(simple_reply(MessageType::CLIENT_NOT_RECOGNISED)),
                       PeerAction::reply(simple_reply(MessageType::NOT_READY)),
                       PeerAction::reply(simple_reply(MessageType::BAD_REQUEST, 0, "no")),
                       PeerAction::raw({1, 2, 3, 4, 5, 6, 7, 8, 9}), PeerAction::silence()});
    std::vector<BarcodeKitDefinition> kits;
    ServerStatistics stats;
    stats.stat_0 = 99;
    std::string state = "unchanged";

    EXPECT_EQ(get_server_internal_state(state, peer.address(), 2000), Result::timed_out);
    EXPECT_EQ(get_server_statistics(stats, peer.address(), 2000), Result::invalid_response);
    EXPECT_EQ(get_barcode_kits(kits, peer.address(), 2000), Result::bad_request);
    EXPECT_EQ(get_server_internal_state(state, peer.address(), 2000), Result::bad_reply);
    EXPECT_EQ(get_server_statistics(stats, peer.address(), 20), Result::timed_out);

    EXPECT_EQ(state, "unchanged");
    EXPECT_EQ(stats.stat_0, 99u);
    EXPECT_TRUE(kits.empty());
}

TEST(ServerQueryTest, UnusableAddressFailsWithoutThrowing)
{
    std::string state;
    EXPECT_EQ(get_server_internal_state(state, "ipc://", 20), Result::failed);
}

}  // namespace
}  // namespace tamsu::server_query
