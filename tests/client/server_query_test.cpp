#include "client/server_query.h"

#include "server/basecall_server.h"
#include "support/scripted_peer.h"

#include <gtest/gtest.h>

namespace tamsu::server_query {
namespace {

using ipc_tools::MessageType;
using tamsu_test::PeerAction;
using tamsu_test::simple_reply;

TEST(ServerQueryTest, InformationIsTheCompactServerInformationMemberOfTheState)
{
    const std::string state = R"({"Other": 1, "ServerInformation": { "version" : "7.0.0",
                                  "clients": [ 1, 2 ] }})";
    tamsu_test::ScriptedPeer peer(
            {PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, state)),
             PeerAction::reply(simple_reply(MessageType::RETURN_STATE, 0, "{}"))});
    std::string info;

    EXPECT_EQ(get_server_information(info, peer.address(), 2000), Result::success);
    EXPECT_EQ(info, R"({"version":"7.0.0","clients":[1,2]})");
    EXPECT_EQ(get_server_information(info, peer.address(), 2000), Result::failed);
    EXPECT_EQ(info, R"({"version":"7.0.0","clients":[1,2]})");
}

// Which failure becomes which code is the broker's and get_result's to say; this is the wiring.
TEST(ServerQueryTest, FailuresBecomeResultCodesAndLeaveTheOutputAlone)
{
    tamsu_test::ScriptedPeer peer({PeerAction::reply(simple_reply(MessageType::NOT_READY)),
                                   PeerAction::reply(simple_reply(MessageType::BAD_REQUEST))});
    std::vector<BarcodeKitDefinition> kits;
    ServerStatistics stats;
    stats.stat_0 = 99;
    std::string state = "unchanged";

    EXPECT_EQ(get_server_statistics(stats, peer.address(), 2000), Result::invalid_response);
    EXPECT_EQ(get_barcode_kits(kits, peer.address(), 2000), Result::bad_request);
    EXPECT_EQ(get_server_internal_state(state, "ipc://", 20), Result::failed);
    EXPECT_EQ(state, "unchanged");
    EXPECT_EQ(stats.stat_0, 99u);
    EXPECT_TRUE(kits.empty());
}

TEST(ServerQueryAgainstServerTest, KitsAreAppendedAndNamedAsTheServerNamesThem)
{
    reference_server::BasecallServer server{reference_server::ServerOptions()};
    const auto address = server.endpoint().substr(6);
    std::vector<BarcodeKitDefinition> kits{
            BarcodeKitDefinition("mine", 1, 1, 0, 0, false, false, false, "m%d")};
    std::vector<LampKitDefinition> lamp_kits;

    ASSERT_EQ(get_barcode_kits(kits, address, 5000), Result::success);
    ASSERT_EQ(get_lamp_kits(lamp_kits, address, 5000), Result::success);
    ASSERT_EQ(kits.size(), 4u);
    EXPECT_EQ(kits[0].kit_name(), "mine");
    EXPECT_EQ(kits[1].generate_barcode_name(12, 0), "barcode12a");
    EXPECT_EQ(kits[3].generate_barcode_name(3, 11), "barcode_external03_internal11");
    ASSERT_EQ(lamp_kits.size(), 2u);
    EXPECT_EQ(lamp_kits[0].generate_barcode_name(7), "FIP07");
    EXPECT_EQ(lamp_kits[0].targets().size(), 3u);
}

}  // namespace
}  // namespace tamsu::server_query
