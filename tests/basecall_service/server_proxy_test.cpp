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

Message kits_reply()
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::BarcodeKitDefinition>> barcode_kits{
            tamsu_ipc::CreateBarcodeKitDefinitionDirect(builder, "DUAL", true, true, true, 1, 96, 1,
                                                        24, "BC%02d"),
            tamsu_ipc::CreateBarcodeKitDefinitionDirect(builder, "NO_FORMAT")};
    std::vector<flatbuffers::Offset<flatbuffers::String>> targets{builder.CreateString("t1"),
                                                                  builder.CreateString("t2")};
    std::vector<flatbuffers::Offset<tamsu_ipc::LampKitDefinition>> lamp_kits{
            tamsu_ipc::CreateLampKitDefinitionDirect(builder, "LAMP", 1, 5, "FIP%02d", &targets)};
    const auto list = tamsu_ipc::CreateConfigListDataDirect(builder, nullptr, nullptr,
                                                            &barcode_kits, &lamp_kits);
    return envelope(builder, list, tamsu_ipc::MessageContent::ConfigListData);
}

Message empty_list_reply()
{
    flatbuffers::FlatBufferBuilder builder;
    const auto list = tamsu_ipc::CreateConfigListData(builder);
    return envelope(builder, list, tamsu_ipc::MessageContent::ConfigListData);
}

TEST(ServerProxyTest, StatisticsAreCopiedInWireOrder)
{
    ScriptedPeer peer({PeerAction::reply(statistics_reply())});

    const auto stats = get_server_statistics(peer.address(), 2000);

    EXPECT_EQ(stats.stat_0, 10u);
    EXPECT_EQ(stats.stat_3, 1ull << 40);
    ASSERT_EQ(stats.clients.size(), 2u);
    EXPECT_EQ(stats.clients[1].value_0, 3u);
    EXPECT_EQ(stats.clients[1].value_1, 4u);
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].type, MessageType::GET_STATISTICS);
    EXPECT_EQ(requests[0].connection_id, "");
}

TEST(ServerProxyTest, KitsKeepTheServersOrderAndDefaults)
{
    ScriptedPeer peer({PeerAction::reply(kits_reply()), PeerAction::reply(kits_reply())});

    const auto barcode_kits = get_barcode_kits(peer.address(), 2000);
    const auto lamp_kits = get_lamp_kits(peer.address(), 2000);

    ASSERT_EQ(barcode_kits.size(), 2u);
    EXPECT_EQ(barcode_kits[0].name, "DUAL");
    EXPECT_TRUE(barcode_kits[0].is_dual && barcode_kits[0].is_both_ends &&
                barcode_kits[0].twelve_a);
    EXPECT_EQ(barcode_kits[0].last_index, 96);
    EXPECT_EQ(barcode_kits[0].last_inner_index, 24);
    EXPECT_EQ(barcode_kits[0].name_format, "BC%02d");
    EXPECT_EQ(barcode_kits[1].name, "NO_FORMAT");
    EXPECT_EQ(barcode_kits[1].name_format, "");
    EXPECT_FALSE(barcode_kits[1].is_dual);
    ASSERT_EQ(lamp_kits.size(), 1u);
    EXPECT_EQ(lamp_kits[0].targets, (std::vector<std::string>{"t1", "t2"}));
    EXPECT_EQ(lamp_kits[0].last_index, 5);
}

TEST(ServerProxyTest, RepliesOfTheRightTypeWithoutContentGiveEmptyResults)
{
    ScriptedPeer peer({PeerAction::reply(empty_list_reply()),
                       PeerAction::reply(simple_reply(MessageType::RETURN_STATE)),
                       PeerAction::reply(empty_list_reply())});

    EXPECT_TRUE(get_lamp_kits(peer.address(), 2000).empty());
    EXPECT_EQ(get_server_internal_state(peer.address(), 2000), "");
    EXPECT_TRUE(get_barcode_kits(peer.address(), 2000).empty());
}

TEST(ServerProxyTest, WrongReplyTypesAreInvalidResponses)
{
    ScriptedPeer peer({PeerAction::reply(statistics_reply()),
                       PeerAction::reply(simple_reply(MessageType::NOT_READY)),
                       PeerAction::reply(kits_reply()),
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

TEST(ServerProxyTest, BrokerFailuresPassThrough)
{
    ScriptedPeer peer({PeerAction::reply(simple_reply(MessageType::CLIENT_NOT_RECOGNISED)),
                       PeerAction::silence()});

    EXPECT_THROW(get_server_internal_state(peer.address(), 2000), ipc_tools::TimeoutError);
    EXPECT_THROW(get_server_statistics(peer.address(), 20), ipc_tools::TimeoutError);
}

}  // namespace
}  // namespace basecall_service::server_proxy
