#include "basecall_service/connection_protocol.h"

#include "support/scripted_peer.h"

#include <gtest/gtest.h>

#include <map>

namespace basecall_service {
namespace {

using ipc_tools::MessageType;
using tamsu_test::PeerAction;
using tamsu_test::ScriptedPeer;

// Lists "other" and `name`; no name: an empty list.
PeerAction config_list(const char* name = "cfg", const char* model_type = "flipflop")
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::ConfigDetailsData>> configs{
            tamsu_ipc::CreateConfigDetailsDataDirect(builder, 9.f, 9.f, 9.f, 9.f, 9, 9, "other",
                                                     "x"),
            tamsu_ipc::CreateConfigDetailsDataDirect(builder, 0.5f, 0.f, 1.5f, 2.5f, 5, 0, name,
                                                     model_type)};
    const auto list = !name ? tamsu_ipc::CreateConfigListData(builder)
                            : tamsu_ipc::CreateConfigListDataDirect(builder, &configs);
    builder.Finish(tamsu_ipc::CreateMessageData(builder, nullptr, 0,
                                                tamsu_ipc::MessageContent::ConfigListData,
                                                list.Union()),
                   "0007");
    return PeerAction::reply(ipc_tools::Message(builder));
}

PeerAction reply(MessageType type, const std::string& text = "")
{
    return PeerAction::reply(tamsu_test::simple_reply(type, 0, text));
}

class ConnectionProtocolTest : public ::testing::Test {
protected:
    // Handshakes with a peer that accepts every load and lists "cfg", except for the replies in
    // `overrides`; no test here gets as far as a connection.
    RequestBrokerAdapter* establish(std::map<MessageType, PeerAction> overrides = {},
                                    std::uint32_t file_load_timeout = 5)
    {
        m_peer = std::make_unique<ScriptedPeer>(
                [overrides](const tamsu_test::ReceivedRequest& request) {
                    if (overrides.count(request.type) != 0) {
                        return overrides.at(request.type);
                    }
                    return request.type == MessageType::GET_CONFIGS ? config_list()
                                                                    : reply(MessageType::SUCCESS);
                });
        m_protocol.set_connection_params(m_peer->address(), 2000);
        return m_protocol.establish_server_connection(m_info, file_load_timeout);
    }

    std::unique_ptr<ScriptedPeer> m_peer;
    ClientConnectionState m_state;
    ConnectionProtocol m_protocol{m_state};
    ipc_tools::ConnectionInfo m_info{"cfg", "", "KIT1 KIT2", "", "", "", 2, {}, 0};
};

TEST_F(ConnectionProtocolTest, EndlessLoadingTimesOutAfterPollingEveryHalfSecond)
{
    EXPECT_EQ(establish({{MessageType::LOAD_CONFIG, reply(MessageType::LOADING)}}, 1), nullptr);

    EXPECT_EQ(to_string(m_protocol.error_state()),
              "[file_load_timeout] Server did not process load request 'LOAD_CONFIG' for file "
              "cfgwithin the 1s timeout. Try increasing server_file_load_timeout");
    EXPECT_GE(m_peer->requests().size(), 2u);
    EXPECT_LE(m_peer->requests().size(), 4u);
    EXPECT_EQ(m_state.get_status(), ClientStatus::loading_config);

    // A zero time-out makes exactly one attempt.
    EXPECT_EQ(establish({{MessageType::LOAD_CONFIG, reply(MessageType::LOADING)}}, 0), nullptr);
    EXPECT_EQ(m_protocol.error_state().code, ConnectionError::file_load_timeout);
    EXPECT_EQ(m_peer->requests().size(), 1u);
}

TEST_F(ConnectionProtocolTest, EachRefusalOrBadReplyNamesWhatWentWrong)
{
    const std::string refused = "Could not register on server (connection refused due to ";
    using T = MessageType;
    struct Case {
        T request;
        PeerAction reply;
        std::string error;
    };
    const std::vector<Case> cases{
            {T::LOAD_CONFIG, reply(T::REQUEST_FAILED, "no such config"),
             "[basecall_config_unavailable] no such config"},
            {T::LOAD_CONFIG, reply(T::NOT_READY),
             "[invalid_response] Error. Load request 'LOAD_CONFIG' received an invalid reply "
             "type: NOT_READY"},
            {T::GET_CONFIGS, config_list(nullptr),
             "[invalid_response] Could not get details from server (reply carries no configuration "
             "list)."},
            {T::GET_CONFIGS, config_list("cfg", nullptr),
             "[invalid_response] Could not get details from server (configuration cfg has no "
             "model_type)."},
            {T::GET_CONFIGS, config_list("absent"),
             "[basecall_config_unavailable] could not retrieve details for config from server: "
             "cfg"},
            {T::GET_CONFIGS, reply(T::SUCCESS),
             "[invalid_response] Could not get details from server (invalid reply type). SUCCESS"},
            {T::CONNECT, reply(T::INVALID_CONFIG),
             "[basecall_config_unavailable] " + refused + "unsupported basecall config \"cfg\")."},
            {T::CONNECT, reply(T::INVALID_BARCODE_KIT),
             "[barcode_kit_unavailable] " + refused + "unsupported barcoding kit \"KIT1 KIT2\")."},
            {T::CONNECT, reply(T::INVALID_INDEX),
             "[align_index_unavailable] " + refused + "unsupported alignment index \"\")."},
            {T::CONNECT, reply(T::INVALID_BED),
             "[bed_file_unavailable] " + refused + "unsupported bed file \"\")."},
            {T::CONNECT, reply(T::INDEX_NO_SEQ),
             "[align_index_no_seq] " + refused +
                     "full alignment not being supported by alignment index \"\")."},
            {T::CONNECT, reply(T::NOT_READY),
             "[invalid_response] Could not register on server (invalid response)."},
            {T::CONNECT, reply(T::CONNECTED),
             "[invalid_response] Could not register on server (CONNECTED reply carries no "
             "connection id)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);

        EXPECT_EQ(establish({{c.request, c.reply}}), nullptr);

        EXPECT_EQ(to_string(m_protocol.error_state()), c.error);
    }
}

}  // namespace
}  // namespace basecall_service
