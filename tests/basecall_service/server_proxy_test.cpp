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

Message empty_list_reply()
{
    flatbuffers::FlatBufferBuilder builder;
    const auto list = tamsu_ipc::CreateConfigListData(builder);
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_content(list.Union());
    root.add_content_type(tamsu_ipc::MessageContent::ConfigListData);
    builder.Finish(root.Finish(), "0007");
    return Message(builder);
}

TEST(ServerProxyTest, WrongReplyTypesAreInvalidResponses)
{
    ScriptedPeer peer({PeerAction::reply(simple_reply(MessageType::DISCONNECTED)),
                       PeerAction::reply(simple_reply(MessageType::NOT_READY)),
                       PeerAction::reply(empty_list_reply()),
                       PeerAction::reply(simple_reply(MessageType::SUCCESS))});
    const auto invalid_text = [](auto query) {
        return tamsu_test::exception_text<ipc_tools::InvalidResponse>(query);
    };
    const auto address = peer.address();

    EXPECT_EQ(invalid_text([&] { get_barcode_kits(address, 2000); }),
              "Could not retrieve barcode kits from server, invalid reply: DISCONNECTED");
    EXPECT_EQ(invalid_text([&] { get_server_statistics(address, 2000); }),
              "Could not retrieve statistics from server, invalid reply: NOT_READY");
    EXPECT_EQ(invalid_text([&] { get_server_internal_state(address, 2000); }),
              "Could not retrieve state from server, invalid reply: RETURN_CONFIGS");
    EXPECT_EQ(invalid_text([&] { get_lamp_kits(address, 2000); }),
              "Could not retrieve lamp kits from server, invalid reply: SUCCESS");
}

}  // namespace
}  // namespace basecall_service::server_proxy
