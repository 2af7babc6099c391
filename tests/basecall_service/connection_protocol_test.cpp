#include "basecall_service/connection_protocol.h"

#include "basecall_service/server_proxy.h"
#include "server/basecall_server.h"

#include "support/log_capture.h"
#include "support/scripted_peer.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>

namespace basecall_service {
namespace {

using ipc_tools::Message;
using ipc_tools::MessageType;
using tamsu_test::PeerAction;
using tamsu_test::ReceivedRequest;
using tamsu_test::ScriptedPeer;
using tamsu_test::simple_reply;

Message finish(flatbuffers::FlatBufferBuilder& builder,
               flatbuffers::Offset<tamsu_ipc::ConfigListData> list)
{
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_content(list.Union());
    root.add_content_type(tamsu_ipc::MessageContent::ConfigListData);
    builder.Finish(root.Finish(), "0007");
    return Message(builder);
}

Message configs_reply(const char* model_type = "flipflop")
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::ConfigDetailsData>> configs{
            tamsu_ipc::CreateConfigDetailsDataDirect(builder, 9.f, 9.f, 9.f, 9.f, 9, 9, "other",
                                                     "x"),
            tamsu_ipc::CreateConfigDetailsDataDirect(builder, 0.5f, 0.f, 1.5f, 2.5f, 5, 0, "cfg",
                                                     model_type)};
    return finish(builder, tamsu_ipc::CreateConfigListDataDirect(builder, &configs));
}

Message indices_reply(const std::string& index)
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::AlignmentIndexData>> indices{
            tamsu_ipc::CreateAlignmentIndexDataDirect(builder, "/elsewhere.fa", "wrong"),
            tamsu_ipc::CreateAlignmentIndexDataDirect(builder, index.c_str(), "@SQ\tSN:r\tLN:4\n")};
    return finish(builder, tamsu_ipc::CreateConfigListDataDirect(builder, nullptr, &indices));
}

// A well-behaved server unless a test overrides the reply to one request type.
class HandshakePeer {
public:
    HandshakePeer()
            : m_peer([this](const ReceivedRequest& request) { return answer(request); })
    {
    }

    void reply_with(MessageType request, const Message& reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_overrides[request] = PeerAction::reply(reply);
    }

    void stay_silent_on(MessageType request)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_overrides[request] = PeerAction::silence();
    }

    std::vector<MessageType> request_types() const
    {
        std::vector<MessageType> types;
        for (const auto& request : m_peer.requests()) {
            types.push_back(request.type);
        }
        return types;
    }

    std::vector<ReceivedRequest> requests() const { return m_peer.requests(); }
    std::string address() const { return m_peer.address(); }
    void set_index_file(const std::string& index)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_index_file = index;
    }

private:
    PeerAction answer(const ReceivedRequest& request)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto overridden = m_overrides.find(request.type);
        if (overridden != m_overrides.end()) {
            return overridden->second;
        }
        switch (request.type) {
        case MessageType::GET_CONFIGS:
            return PeerAction::reply(configs_reply());
        case MessageType::GET_INDICES:
            return PeerAction::reply(indices_reply(m_index_file));
        case MessageType::CONNECT:
            return PeerAction::reply(simple_reply(MessageType::CONNECTED, 0, "conn-7"));
        case MessageType::DISCONNECT:
            return PeerAction::reply(simple_reply(MessageType::DISCONNECTED));
        default:
            return PeerAction::reply(simple_reply(MessageType::SUCCESS));
        }
    }

    std::mutex m_mutex;  // guards m_overrides and m_index_file
    std::map<MessageType, PeerAction> m_overrides;
    std::string m_index_file;
    ScriptedPeer m_peer;
};

// Statuses as a registered handler hears them.
class StatusLog {
public:
    explicit StatusLog(ClientConnectionState& state)
    {
        state.register_change_handler([this](ClientStatus, auto snapshot) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_statuses.push_back(snapshot->get_status());
            m_changed.notify_all();
        });
    }

    std::vector<ClientStatus> wait_for(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(20),
                           [&] { return m_statuses.size() >= count; });
        return m_statuses;
    }

private:
    std::mutex m_mutex;  // guards m_statuses
    std::condition_variable m_changed;
    std::vector<ClientStatus> m_statuses;
};

class ConnectionProtocolTest : public ::testing::Test {
protected:
    ConnectionProtocolTest()
            : m_protocol(m_state)
    {
        m_info.m_config_name = "cfg";
        m_info.m_client_name = "tester";
    }

    RequestBrokerAdapter* establish(std::uint32_t file_load_timeout = 5,
                                    unsigned int request_timeout = 2000)
    {
        m_protocol.set_connection_params(m_peer.address(), request_timeout);
        return m_protocol.establish_server_connection(m_info, file_load_timeout);
    }

    ErrorState failure_with(MessageType request, const Message& reply)
    {
        m_peer.reply_with(request, reply);
        EXPECT_EQ(establish(), nullptr);
        return m_protocol.error_state();
    }

    HandshakePeer m_peer;
    ClientConnectionState m_state;
    ConnectionProtocol m_protocol;
    ipc_tools::ConnectionInfo m_info;
};

TEST_F(ConnectionProtocolTest, HandshakeWithoutFilesPassesThroughEveryStatus)
{
    StatusLog log(m_state);
    m_info.m_priority = 0;

    ASSERT_NE(establish(), nullptr) << to_string(m_protocol.error_state());

    using S = ClientStatus;
    EXPECT_EQ(log.wait_for(6), (std::vector<S>{S::preparing_connection, S::loading_config,
                                               S::loading_alignment_index, S::loading_bed_file,
                                               S::connecting, S::connected}));
    EXPECT_EQ(m_peer.request_types(),
              (std::vector<MessageType>{MessageType::LOAD_CONFIG, MessageType::GET_CONFIGS,
                                        MessageType::CONNECT}));
    const auto connect = m_peer.requests()[2];
    EXPECT_EQ(connect.value, 2u);
    EXPECT_EQ(connect.text, "cfg:>timeout_interval=0>client_name=tester>alignment_type=:::");
    EXPECT_EQ(m_peer.requests()[0].text, "cfg");
    EXPECT_EQ(m_protocol.get_connection_id(), "conn-7");
    const auto& details = m_protocol.get_config_details();
    EXPECT_EQ(details.config_name, "cfg");
    EXPECT_EQ(details.qscore_offset, 0.5f);
    EXPECT_EQ(details.qscore_scale, 0.f);
    EXPECT_EQ(details.temp_bias, 2.5f);
    EXPECT_EQ(details.model_stride, 5u);
    EXPECT_EQ(details.label_length, 0u);
    EXPECT_EQ(details.model_type, "flipflop");
    EXPECT_EQ(details.beam_width, 40u);
}

TEST_F(ConnectionProtocolTest, HandshakeWithIndexAndBedLoadsBothAndSendsCanonicalPaths)
{
    const auto dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path();
    boost::filesystem::create_directories(dir);
    const auto index = boost::filesystem::canonical(dir).string() + "/ref.fa";
    const auto bed = boost::filesystem::canonical(dir).string() + "/ref.bed";
    std::ofstream(index) << ">r\nACGT\n";
    std::ofstream(bed) << "r\t0\t4\n";
    m_peer.set_index_file(index);
    m_info.m_alignment_index = index;
    m_info.m_bed_file = bed;
    m_info.m_priority = 1;

    ASSERT_NE(establish(), nullptr) << to_string(m_protocol.error_state());
    boost::filesystem::remove_all(dir);

    EXPECT_EQ(m_peer.request_types(),
              (std::vector<MessageType>{MessageType::LOAD_CONFIG, MessageType::GET_CONFIGS,
                                        MessageType::LOAD_INDEX, MessageType::GET_INDICES,
                                        MessageType::LOAD_BED, MessageType::CONNECT}));
    const auto requests = m_peer.requests();
    EXPECT_EQ(requests[2].text, index);
    EXPECT_EQ(requests[4].text, bed);
    EXPECT_EQ(requests[5].value, 1u);
    EXPECT_EQ(requests[5].text.substr(requests[5].text.rfind(':') + 1), index + ";" + bed);
    EXPECT_EQ(m_protocol.get_alignment_file_header(), "@SQ\tSN:r\tLN:4\n");
}

TEST_F(ConnectionProtocolTest, EndlessLoadingTimesOutAfterPollingEveryHalfSecond)
{
    m_peer.reply_with(MessageType::LOAD_CONFIG, simple_reply(MessageType::LOADING));

    EXPECT_EQ(establish(1), nullptr);

    const auto& error = m_protocol.error_state();
    EXPECT_EQ(error.code, ConnectionError::file_load_timeout);
    EXPECT_EQ(error.message, "Server did not process load request 'LOAD_CONFIG' for file cfgwithin "
                             "the 1s timeout. Try increasing server_file_load_timeout");
    const auto attempts = m_peer.requests().size();
    EXPECT_GE(attempts, 2u);
    EXPECT_LE(attempts, 4u);
    EXPECT_EQ(m_state.get_status(), ClientStatus::loading_config);

    // A zero time-out makes exactly one attempt.
    EXPECT_EQ(establish(0), nullptr);
    EXPECT_EQ(m_protocol.error_state().code, ConnectionError::file_load_timeout);
    EXPECT_EQ(m_peer.requests().size(), attempts + 1);
}

TEST_F(ConnectionProtocolTest, ConfigRequestFailureCarriesTheServersReason)
{
    const auto error = failure_with(MessageType::LOAD_CONFIG,
                                    simple_reply(MessageType::REQUEST_FAILED, 0, "no such config"));

    EXPECT_EQ(to_string(error), "[basecall_config_unavailable] no such config");
    EXPECT_EQ(m_state.get_status(), ClientStatus::loading_config);
}

TEST(ConnectionErrorStateTest, LoadFailuresMapByRequestType)
{
    EXPECT_EQ(create_load_request_error_state(MessageType::LOAD_BED, "b").code,
              ConnectionError::bed_file_unavailable);
    EXPECT_EQ(create_load_request_error_state(MessageType::LOAD_INDEX, "i").code,
              ConnectionError::align_index_unavailable);
    EXPECT_EQ(create_load_request_error_state(MessageType::LOAD_CONFIG, "c").code,
              ConnectionError::basecall_config_unavailable);
    EXPECT_EQ(to_string(create_load_request_error_state(MessageType::GET_STATE, "s")),
              "[failed] s");
}

TEST_F(ConnectionProtocolTest, EachConnectRefusalNamesWhatWasRefused)
{
    m_info.m_barcode_kits = "KIT1 KIT2";
    struct Case {
        MessageType reply;
        ConnectionError code;
        std::string message;
    };
    const std::vector<Case> cases{
            {MessageType::INVALID_CONFIG, ConnectionError::basecall_config_unavailable,
             "Could not register on server (connection refused due to unsupported basecall "
             "config \"cfg\")."},
            {MessageType::INVALID_BARCODE_KIT, ConnectionError::barcode_kit_unavailable,
             "Could not register on server (connection refused due to unsupported barcoding kit "
             "\"KIT1 KIT2\")."},
            {MessageType::INVALID_INDEX, ConnectionError::align_index_unavailable,
             "Could not register on server (connection refused due to unsupported alignment "
             "index \"\")."},
            {MessageType::INVALID_BED, ConnectionError::bed_file_unavailable,
             "Could not register on server (connection refused due to unsupported bed file "
             "\"\")."},
            {MessageType::INDEX_NO_SEQ, ConnectionError::align_index_no_seq,
             "Could not register on server (connection refused due to full alignment not being "
             "supported by alignment index \"\")."},
            {MessageType::NOT_READY, ConnectionError::invalid_response,
             "Could not register on server (invalid response)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ipc_tools::message_type_as_string(c.reply));
        const auto error = failure_with(MessageType::CONNECT, simple_reply(c.reply));
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(m_state.get_status(), ClientStatus::connecting);
    }
}

TEST_F(ConnectionProtocolTest, SeparatorsInValuesAreRefusedBeforeAnythingIsSent)
{
    for (const char* kits : {"KIT:1", "KIT>1", "KIT=1", "KIT;1"}) {
        m_info.m_barcode_kits = kits;

        EXPECT_EQ(establish(), nullptr);

        EXPECT_EQ(m_protocol.error_state().code, ConnectionError::failed);
        EXPECT_EQ(
                m_protocol.error_state().message.rfind(std::string("The barcode kits '") + kits, 0),
                0u);
    }
    EXPECT_TRUE(m_peer.requests().empty());
}

TEST_F(ConnectionProtocolTest, ConfigurationMissingFromTheListIsUnavailable)
{
    m_info.m_config_name = "absent";

    EXPECT_EQ(establish(), nullptr);

    EXPECT_EQ(to_string(m_protocol.error_state()),
              "[basecall_config_unavailable] could not retrieve details for config from server: "
              "absent");
}

TEST_F(ConnectionProtocolTest, MalformedRepliesAreInvalidResponses)
{
    flatbuffers::FlatBufferBuilder builder;
    const auto empty_list = finish(builder, tamsu_ipc::CreateConfigListData(builder));
    EXPECT_EQ(failure_with(MessageType::GET_CONFIGS, empty_list).code,
              ConnectionError::invalid_response);
    EXPECT_EQ(failure_with(MessageType::GET_CONFIGS, configs_reply(nullptr)).code,
              ConnectionError::invalid_response);
    EXPECT_NE(m_protocol.error_state().message.find("model_type"), std::string::npos);
    m_peer.reply_with(MessageType::GET_CONFIGS, configs_reply());
    EXPECT_EQ(failure_with(MessageType::GET_CONFIGS, simple_reply(MessageType::SUCCESS)).message,
              "Could not get details from server (invalid reply type). SUCCESS");
    m_peer.reply_with(MessageType::GET_CONFIGS, configs_reply());
    EXPECT_EQ(failure_with(MessageType::LOAD_CONFIG, simple_reply(MessageType::NOT_READY)).message,
              "Error. Load request 'LOAD_CONFIG' received an invalid reply type: NOT_READY");
    m_peer.reply_with(MessageType::LOAD_CONFIG, simple_reply(MessageType::SUCCESS));
    EXPECT_EQ(failure_with(MessageType::CONNECT, simple_reply(MessageType::CONNECTED)).code,
              ConnectionError::invalid_response);
}

TEST_F(ConnectionProtocolTest, SilentServerTimesOutDuringTheStepItWasIn)
{
    m_peer.stay_silent_on(MessageType::LOAD_CONFIG);

    EXPECT_EQ(establish(5, 30), nullptr);

    EXPECT_EQ(to_string(m_protocol.error_state()),
              "[timed_out] Timeout waiting for reply to request: LOAD_CONFIG");
    EXPECT_EQ(m_state.get_status(), ClientStatus::loading_config);
}

TEST_F(ConnectionProtocolTest, FarewellLogsOnlyWhenTheServerDoesNotSayGoodbye)
{
    ASSERT_NE(establish(), nullptr);
    tamsu_test::LogCapture capture;

    m_protocol.disconnect_from_server();
    EXPECT_TRUE(capture.records().empty());
    EXPECT_EQ(m_peer.requests().back().type, MessageType::DISCONNECT);
    EXPECT_EQ(m_peer.requests().back().connection_id, "conn-7");

    m_peer.reply_with(MessageType::DISCONNECT, simple_reply(MessageType::SUCCESS));
    m_protocol.disconnect_from_server();
    m_peer.reply_with(MessageType::DISCONNECT, simple_reply(MessageType::CLIENT_NOT_RECOGNISED));
    m_protocol.disconnect_from_server();

    const auto records = capture.records();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[0].channel, "info");
    EXPECT_EQ(records[0].message,
              "Could not disconnect from basecall server, invalid reply: SUCCESS");
    EXPECT_EQ(records.back().channel, "warning");
    EXPECT_EQ(records.back().message,
              "Error disconnecting from server: [timed_out] Received CLIENT_NOT_RECOGNISED from "
              "server. Treating as a server restart.");
}

}  // namespace
}  // namespace basecall_service

namespace basecall_service {
namespace {

// The handshake end to end, against the reference server.
class ConnectionProtocolServerTest : public ::testing::Test {
protected:
    ConnectionProtocolServerTest()
            : m_dir(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path())
            , m_protocol(m_state)
    {
        boost::filesystem::create_directories(m_dir);
        m_dir = boost::filesystem::canonical(m_dir);
        std::ofstream(path("ref.fa")) << ">chr1\nACGTACGTACGTACGTACGTACGTACGTACGTACGTACGT\n";
        std::ofstream(path("ref.bed")) << "chr1\t0\t20\tfeature\n";
        m_info.m_config_name = "toy_flipflop_fast";
        m_info.m_client_name = "protocol-test";
        m_protocol.set_connection_params(m_server.endpoint().substr(6), 5000);
    }
    ~ConnectionProtocolServerTest() override { boost::filesystem::remove_all(m_dir); }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    std::string server_state()
    {
        return basecall_service::server_proxy::get_server_internal_state(
                m_server.endpoint().substr(6), 5000);
    }

    boost::filesystem::path m_dir;
    reference_server::BasecallServer m_server{reference_server::ServerOptions()};
    ClientConnectionState m_state;
    ConnectionProtocol m_protocol;
    ipc_tools::ConnectionInfo m_info;
};

TEST_F(ConnectionProtocolServerTest, ConnectsWithIndexAndBedFile)
{
    StatusLog log(m_state);
    m_info.m_priority = 1;
    m_info.m_alignment_index = path("ref.fa");
    m_info.m_bed_file = path("ref.bed");

    ASSERT_NE(m_protocol.establish_server_connection(m_info, 5), nullptr)
            << to_string(m_protocol.error_state());

    using S = ClientStatus;
    EXPECT_EQ(log.wait_for(6), (std::vector<S>{S::preparing_connection, S::loading_config,
                                               S::loading_alignment_index, S::loading_bed_file,
                                               S::connecting, S::connected}));
    EXPECT_NE(m_protocol.get_alignment_file_header().find("@SQ\tSN:chr1\tLN:40"),
              std::string::npos);
    const auto state = server_state();
    EXPECT_NE(state.find("toy_flipflop_fast:>timeout_interval=0>client_name=protocol-test"
                         ">alignment_type=:"),
              std::string::npos)
            << state;
    EXPECT_NE(state.find(path("ref.fa") + ";" + path("ref.bed")), std::string::npos);
    EXPECT_NE(state.find("\"priority\":1"), std::string::npos) << state;
    EXPECT_EQ(m_server.client_count(), 1u);

    m_protocol.disconnect_from_server();
    EXPECT_EQ(m_server.client_count(), 0u);
}

TEST_F(ConnectionProtocolServerTest, SlowLoadIsPolledUntilItSucceeds)
{
    auto faults = m_server.faults();
    faults.load_delay = std::chrono::milliseconds(700);
    m_server.set_faults(faults);

    ASSERT_NE(m_protocol.establish_server_connection(m_info, 30), nullptr)
            << to_string(m_protocol.error_state());
}

}  // namespace
}  // namespace basecall_service
