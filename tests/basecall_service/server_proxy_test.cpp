#include "basecall_service/server_proxy.h"

#include "ipc_tools/request_broker.h"
#include "support/scripted_peer.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

namespace basecall_service::server_proxy {
namespace {

using ipc_tools::Message;
using ipc_tools::MessageType;
using tamsu_test::PeerAction;
using tamsu_test::ScriptedPeer;
using tamsu_test::simple_reply;

template <typename Content>
Message envelope(flatbuffers::FlatBufferBuilder& builder, flatbuffers::Offset<Content> content,
                 tamsu_ipc::MessageContent tag)
{
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_content(content.Union());
    root.add_content_type(tag);
    builder.Finish(root.Finish(), "0007");
    return Message(builder);
}

Message statistics_reply()
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::ClientStatsData>> clients{
            tamsu_ipc::CreateClientStatsData(builder, 1, 2),
            tamsu_ipc::CreateClientStatsData(builder, 3, 4)};
    const auto stats =
            tamsu_ipc::CreateServerStatsDirect(builder, 10, 20, 30, 1ull << 40, &clients);
    return envelope(builder, stats, tamsu_ipc::MessageContent::ServerStats);
}

Message empty_list_reply()
{
    flatbuffers::FlatBufferBuilder builder;
    const auto list = tamsu_ipc::CreateConfigListData(builder);
    return envelope(builder, list, tamsu_ipc::MessageContent::ConfigListData);
}

TEST(ServerProxyTest, StatisticsAreCopiedInWireOrderAndEmptyContentGivesEmptyResults)
{
    ScriptedPeer peer({PeerAction::reply(statistics_reply()), PeerAction::reply(empty_list_reply()),
                       PeerAction::reply(simple_reply(MessageType::RETURN_STATE)),
                       PeerAction::reply(empty_list_reply())});

    const auto stats = get_server_statistics(peer.address(), 2000);

    EXPECT_EQ(stats.stat_0, 10u);
    EXPECT_EQ(stats.stat_3, 1ull << 40);
    ASSERT_EQ(stats.clients.size(), 2u);
    EXPECT_EQ(stats.clients[1].value_0, 3u);
    EXPECT_EQ(stats.clients[1].value_1, 4u);
    EXPECT_TRUE(get_lamp_kits(peer.address(), 2000).empty());
    EXPECT_EQ(get_server_internal_state(peer.address(), 2000), "");
    EXPECT_TRUE(get_barcode_kits(peer.address(), 2000).empty());
    EXPECT_EQ(peer.requests()[0].type, MessageType::GET_STATISTICS);
}

TEST(ServerProxyTest, WrongReplyTypesAreInvalidResponses)
{
    ScriptedPeer peer({PeerAction::reply(statistics_reply()),
                       PeerAction::reply(simple_reply(MessageType::NOT_READY)),
                       PeerAction::reply(empty_list_reply()),
                       PeerAction::reply(simple_reply(MessageType::SUCCESS))});
    const auto invalid_text = [](auto query) {
        return tamsu_test::exception_text<ipc_tools::InvalidResponse>(query);
    };
    const auto address = peer.address();

    EXPECT_EQ(invalid_text([&] { get_barcode_kits(address, 2000); }),
              "Could not retrieve barcode kits from server, invalid reply: RETURN_STATISTICS");
    EXPECT_EQ(invalid_text([&] { get_server_statistics(address, 2000); }),
              "Could not retrieve statistics from server, invalid reply: NOT_READY");
    EXPECT_EQ(invalid_text([&] { get_server_internal_state(address, 2000); }),
              "Could not retrieve state from server, invalid reply: RETURN_CONFIGS");
    EXPECT_EQ(invalid_text([&] { get_lamp_kits(address, 2000); }),
              "Could not retrieve lamp kits from server, invalid reply: SUCCESS");
}

}  // namespace
}  // namespace basecall_service::server_proxy
