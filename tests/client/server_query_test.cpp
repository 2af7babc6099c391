#include "client/server_query.h"

#include "server/basecall_server.h"
#include "support/scripted_peer.h"

#include <gtest/gtest.h>

namespace tamsu::server_query {
namespace {

using ipc_tools::MessageType;
using tamsu_test::PeerAction;
using tamsu_test::simple_reply;

// Which failure becomes which code is the broker's and get_result's to say; this is the wiring.
TEST(ServerQueryTest, InformationIsTheCompactMemberOfTheStateAndFailuresLeaveTheOutputAlone)
{
    const std::string state = R"({"Other": 1, "ServerInformation": { "version" : "7.0.0",
                                  "clients": [ 1, 2 ] }})";
    tamsu_test::ScriptedPeer peer(
            {PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, state)),
             PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, "{}")),
             PeerAction::reply(simple_reply(MessageType::NOT_READY)),
             PeerAction::reply(simple_reply(MessageType::BAD_REQUEST))});
    std::string info;
    std::vector<BarcodeKitDefinition> kits;
    ServerStatistics stats;
    stats.stat_0 = 99;

    EXPECT_EQ(get_server_information(info, peer.address(), 2000), Result::success);
    EXPECT_EQ(get_server_information(info, peer.address(), 2000), Result::failed);
    EXPECT_EQ(info, R"({"version":"7.0.0","clients":[1,2]})");
    EXPECT_EQ(get_server_statistics(stats, peer.address(), 2000), Result::invalid_response);
    EXPECT_EQ(get_barcode_kits(kits, peer.address(), 2000), Result::bad_request);
    EXPECT_EQ(get_server_internal_state(info, "ipc://", 20), Result::failed);
    EXPECT_EQ(info, R"({"version":"7.0.0","clients":[1,2]})");
    EXPECT_EQ(stats.stat_0, 99u);
    EXPECT_TRUE(kits.empty());
}

// Lamp kits and dual naming through a server are the command line's query tests.
TEST(ServerQueryAgainstServerTest, KitsAreAppendedAndNamedAsTheServerNamesThem)
{
    reference_server::BasecallServer server{reference_server::ServerOptions()};
    std::vector<BarcodeKitDefinition> kits{
            BarcodeKitDefinition("mine", 1, 1, 0, 0, false, false, false, "m%d")};

    ASSERT_EQ(get_barcode_kits(kits, server.endpoint().substr(6), 5000), Result::success);
    ASSERT_EQ(kits.size(), 4u);
    EXPECT_EQ(kits[0].kit_name(), "mine");
    EXPECT_EQ(kits[1].generate_barcode_name(12, 0), "barcode12a");
}

}  // namespace
}  // namespace tamsu::server_query
