#include "client/tamsu_client.h"
#include "server/basecall_server.h"
#include "server/catalogue.h"
#include "server/toy_caller.h"
#include "server_test_client.h"

#include <boost/filesystem.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <set>
#include <thread>

namespace {

using namespace server_test;
using reference_server::BasecallServer;
using reference_server::FaultSettings;
using reference_server::ServerOptions;
using reference_server::ToyCaller;
using testing::HasSubstr;
using testing::Not;

class TempDir {
public:
    TempDir()
            : m_path(boost::filesystem::temp_directory_path() /
                     boost::filesystem::unique_path("server_test_%%%%%%%%"))
    {
        boost::filesystem::create_directories(m_path);
    }
    ~TempDir()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(m_path, ignored);
    }
    std::string write(const std::string& name, const std::string& content) const
    {
        const auto path = (m_path / name).string();
        std::ofstream(path) << content;
        return path;
    }
    std::string path(const std::string& name) const { return (m_path / name).string(); }

private:
    boost::filesystem::path m_path;
};

class ServerTest : public testing::Test {
protected:
    void start(std::size_t worker_threads = 2)
    {
        ServerOptions options;
        options.worker_threads = worker_threads;
        start(options);
    }

    void start(ServerOptions options)
    {
        options.address = "tcp://127.0.0.1:*";
        m_server = std::make_unique<BasecallServer>(options);
        m_client = std::make_unique<TestClient>(m_server->endpoint());
    }

    void SetUp() override { start(); }

    TestClient& client() { return *m_client; }
    BasecallServer& server() { return *m_server; }

    void load_config(const std::string& name)
    {
        ASSERT_EQ(client().simple(MessageType::LOAD_CONFIG, "", 0, name).get_type(),
                  MessageType::SUCCESS);
    }

    std::string connect(const std::string& text)
    {
        auto reply = client().simple(MessageType::CONNECT, "", 0, text);
        EXPECT_EQ(reply.get_type(), MessageType::CONNECTED) << reply_text(reply);
        return reply.get_type() == MessageType::CONNECTED ? reply_text(reply) : std::string();
    }

    std::string connect_with(const std::string& config)
    {
        load_config(config);
        return connect(connection_string(config));
    }

    // Reads in flight on the server for the only connected client.
    std::uint32_t reads_in_flight()
    {
        auto reply = client().simple(MessageType::GET_STATISTICS);
        const auto* stats = reply.get_message_data()->content_as_ServerStats();
        return stats != nullptr && stats->clients()->size() == 1
                       ? stats->clients()->Get(0)->value_0()
                       : 0xffffffffu;
    }

    // Waits until the workers have called `count` reads in total.
    bool wait_for_called(std::uint64_t count)
    {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (server().counters().reads_called < count) {
            if (std::chrono::steady_clock::now() > give_up) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::unique_ptr<BasecallServer> m_server;
    std::unique_ptr<TestClient> m_client;
};

std::string bytes_as_text(const flatbuffers::Vector<std::uint8_t>* bytes)
{
    return bytes == nullptr ? std::string() : std::string(bytes->begin(), bytes->end());
}

TEST_F(ServerTest, LoadsKnownConfigurationsAndListsOnlyLoadedOnes)
{
    auto unknown = client().simple(MessageType::LOAD_CONFIG, "", 0, "no_such_config");
    EXPECT_EQ(unknown.get_type(), MessageType::REQUEST_FAILED);
    EXPECT_THAT(reply_text(unknown), HasSubstr("no_such_config"));

    load_config("toy_runlength");
    auto reply = client().simple(MessageType::GET_CONFIGS);
    ASSERT_EQ(reply.get_type(), MessageType::RETURN_CONFIGS);
    const auto* configs = reply.get_message_data()->content_as_ConfigListData()->configs();
    ASSERT_NE(configs, nullptr);
    ASSERT_EQ(configs->size(), 1u);
    const auto* entry = configs->Get(0);
    const auto& expected = *reference_server::find_config("toy_runlength");
    EXPECT_EQ(entry->name()->str(), "toy_runlength");
    EXPECT_EQ(entry->model_type()->str(), expected.model_type);
    EXPECT_EQ(entry->model_stride(), 10u);
    EXPECT_EQ(entry->label_length(), expected.label_length);
    EXPECT_FLOAT_EQ(entry->qscore_offset(), expected.qscore_offset);
    EXPECT_FLOAT_EQ(entry->qscore_scale(), expected.qscore_scale);
    EXPECT_FLOAT_EQ(entry->temp_weight(), expected.temp_weight);
    EXPECT_FLOAT_EQ(entry->temp_bias(), expected.temp_bias);
}

TEST_F(ServerTest, CatalogueHasDistinctStridesForTheThreeKindsOfResult)
{
    std::set<std::uint32_t> strides;
    for (const auto& config : reference_server::built_in_configs()) {
        strides.insert(config.model_stride);
        load_config(config.name);
    }
    EXPECT_EQ(strides.size(), reference_server::built_in_configs().size());
    auto reply = client().simple(MessageType::GET_CONFIGS);
    EXPECT_EQ(reply.get_message_data()->content_as_ConfigListData()->configs()->size(),
              reference_server::built_in_configs().size());
}

TEST_F(ServerTest, RefusedConfigurationFailsWithAReason)
{
    FaultSettings faults;
    faults.refused_configs = {"toy_modbase"};
    server().set_faults(faults);
    auto reply = client().simple(MessageType::LOAD_CONFIG, "", 0, "toy_modbase");
    EXPECT_EQ(reply.get_type(), MessageType::REQUEST_FAILED);
    EXPECT_THAT(reply_text(reply), HasSubstr("refused"));
    load_config("toy_flipflop_fast");
}

TEST_F(ServerTest, LoadDelayAnswersLoadingUntilItHasElapsed)
{
    TempDir dir;
    const auto fasta = dir.write("ref.fa", ">chr1\nACGTACGT\n");
    const auto bed = dir.write("ref.bed", "chr1\t0\t4\n");
    FaultSettings faults;
    faults.load_delay = std::chrono::milliseconds(200);
    server().set_faults(faults);
    for (const auto& request : {std::make_pair(MessageType::LOAD_CONFIG, "toy_modbase"),
                                std::make_pair(MessageType::LOAD_INDEX, fasta.c_str()),
                                std::make_pair(MessageType::LOAD_BED, bed.c_str())}) {
        EXPECT_EQ(client().simple(request.first, "", 0, request.second).get_type(),
                  MessageType::LOADING);
        MessageType type = MessageType::LOADING;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (type == MessageType::LOADING && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            type = client().simple(request.first, "", 0, request.second).get_type();
        }
        EXPECT_EQ(type, MessageType::SUCCESS) << request.second;
    }
    // Loaded now: no further delay.
    EXPECT_EQ(client().simple(MessageType::LOAD_CONFIG, "", 0, "toy_modbase").get_type(),
              MessageType::SUCCESS);
}

TEST_F(ServerTest, LoadsIndicesAndBedFilesAndRejectsBadOnes)
{
    TempDir dir;
    const auto fasta = dir.write("ref.fa", ">chr1 first\nACGT\nAC\n>chr2\nGGGG\n");
    EXPECT_EQ(client().simple(MessageType::LOAD_INDEX, "", 0, fasta).get_type(),
              MessageType::SUCCESS);
    auto missing = client().simple(MessageType::LOAD_INDEX, "", 0, dir.path("missing.fa"));
    EXPECT_EQ(missing.get_type(), MessageType::REQUEST_FAILED);
    EXPECT_THAT(reply_text(missing), HasSubstr("missing.fa"));
    const auto not_fasta = dir.write("text.fa", "hello world\n");
    EXPECT_EQ(client().simple(MessageType::LOAD_INDEX, "", 0, not_fasta).get_type(),
              MessageType::REQUEST_FAILED);

    auto reply = client().simple(MessageType::GET_INDICES);
    ASSERT_EQ(reply.get_type(), MessageType::RETURN_CONFIGS);
    const auto* indices = reply.get_message_data()->content_as_ConfigListData()->indices();
    ASSERT_EQ(indices->size(), 1u);
    EXPECT_EQ(indices->Get(0)->name()->str(), fasta);
    EXPECT_THAT(indices->Get(0)->header()->str(), HasSubstr("@SQ\tSN:chr1\tLN:6\n"));
    EXPECT_THAT(indices->Get(0)->header()->str(), HasSubstr("@SQ\tSN:chr2\tLN:4\n"));

    const auto bed = dir.write("a.bed", "# comment\ntrack name=x\nchr1\t0\t3\tgene\n");
    EXPECT_EQ(client().simple(MessageType::LOAD_BED, "", 0, bed).get_type(), MessageType::SUCCESS);
    for (const auto* content : {"chr1\tzero\t3\n", "chr1\t5\t3\n", "chr1\t5\n"}) {
        const auto bad = dir.write("bad.bed", content);
        auto failed = client().simple(MessageType::LOAD_BED, "", 0, bad);
        EXPECT_EQ(failed.get_type(), MessageType::REQUEST_FAILED) << content;
        EXPECT_THAT(reply_text(failed), HasSubstr("line 1"));
    }
}

TEST_F(ServerTest, ConnectRefusesEachMissingPiece)
{
    TempDir dir;
    const auto fasta = dir.write("ref.fa", ">chr1\nACGT\n");
    const auto empty_fasta = dir.write("empty.fa", "");
    const auto bed = dir.write("a.bed", "chr1\t0\t3\n");
    const auto config = "toy_flipflop_fast";

    auto garbage = client().simple(MessageType::CONNECT, "", 0, "toy:>nonsense:");
    EXPECT_EQ(garbage.get_type(), MessageType::BAD_REQUEST);
    EXPECT_FALSE(reply_text(garbage).empty());
    EXPECT_EQ(client().simple(MessageType::CONNECT, "", 0, "toy:>client_name=x:::").get_type(),
              MessageType::BAD_REQUEST);
    EXPECT_EQ(client().simple(MessageType::CONNECT, "", 0, connection_string(config)).get_type(),
              MessageType::INVALID_CONFIG);

    load_config(config);
    EXPECT_EQ(client().simple(MessageType::CONNECT, "", 0,
                              connection_string(config, "TOY-BC12 NO-SUCH-KIT"))
                      .get_type(),
              MessageType::INVALID_BARCODE_KIT);
    EXPECT_EQ(client().simple(MessageType::CONNECT, "", 0,
                              connection_string(config, {}, {}, {}, ">lamp_kit=NOPE"))
                      .get_type(),
              MessageType::INVALID_BARCODE_KIT);
    EXPECT_EQ(client().simple(MessageType::CONNECT, "", 0, connection_string(config, {}, fasta))
                      .get_type(),
              MessageType::INVALID_INDEX);
    ASSERT_EQ(client().simple(MessageType::LOAD_INDEX, "", 0, empty_fasta).get_type(),
              MessageType::SUCCESS);
    EXPECT_EQ(
            client().simple(MessageType::CONNECT, "", 0, connection_string(config, {}, empty_fasta))
                    .get_type(),
            MessageType::INDEX_NO_SEQ);
    ASSERT_EQ(client().simple(MessageType::LOAD_INDEX, "", 0, fasta).get_type(),
              MessageType::SUCCESS);
    EXPECT_EQ(
            client().simple(MessageType::CONNECT, "", 0, connection_string(config, {}, fasta, bed))
                    .get_type(),
            MessageType::INVALID_BED);
    ASSERT_EQ(client().simple(MessageType::LOAD_BED, "", 0, bed).get_type(), MessageType::SUCCESS);

    const auto first = connect(
            connection_string(config, "TOY-BC12,TOY-DUAL", fasta, bed, ">lamp_kit=TOY-LAMP"));
    const auto second = connect(connection_string(config));
    EXPECT_FALSE(first.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(server().client_count(), 2u);
}

TEST_F(ServerTest, RequestsNamingAnUnknownClientAreNotRecognised)
{
    const auto id = connect_with("toy_flipflop_fast");
    EXPECT_EQ(client().simple(MessageType::HEARTBEAT_PING, id).get_type(),
              MessageType::HEARTBEAT_ECHO);
    for (const auto type :
         {MessageType::HEARTBEAT_PING, MessageType::DISCONNECT, MessageType::GET_FIRST_CALLED_BLOCK,
          MessageType::GET_NEXT_CALLED_BLOCK}) {
        EXPECT_EQ(client().simple(type, "stranger").get_type(), MessageType::CLIENT_NOT_RECOGNISED)
                << ipc_tools::message_type_as_string(type);
    }
    EXPECT_EQ(client().exchange(raw_block("stranger", MessageType::PASS_FIRST_RAW_BLOCK, 1, 0, 1,
                                          10, make_samples(10, 1), "r"))
                      .get_type(),
              MessageType::CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(client().exchange(raw_block("stranger", MessageType::PASS_NEXT_RAW_BLOCK, 1, 1, 2, 10,
                                          make_samples(10, 1), "r"))
                      .get_type(),
              MessageType::CLIENT_NOT_RECOGNISED);

    EXPECT_EQ(client().simple(MessageType::DISCONNECT, id).get_type(), MessageType::DISCONNECTED);
    EXPECT_EQ(client().simple(MessageType::HEARTBEAT_PING, id).get_type(),
              MessageType::CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(server().client_count(), 0u);
}

// A client's keys for a server with `server_public_key`: a fresh pair of its own.
ipc_tools::CurveKeys new_client_keys(const std::string& server_public_key)
{
    char public_key[41] = {};
    char secret_key[41] = {};
    EXPECT_EQ(zmq_curve_keypair(public_key, secret_key), 0);
    return {server_public_key, public_key, secret_key};
}

// Under CURVE a connection id answers only the client key that connected it: another admitted
// client that learns it cannot pull the reads, pass blocks or disconnect the client.
TEST(CurveServerTest, ConnectionIdsAnswerOnlyTheKeyThatConnected)
{
    char server_public_key[41] = {};
    ServerOptions options;
    options.curve.secret_key.resize(41);
    ASSERT_EQ(zmq_curve_keypair(server_public_key, options.curve.secret_key.data()), 0);
    options.curve.secret_key.resize(40);
    const auto alice_keys = new_client_keys(server_public_key);
    const auto mallory_keys = new_client_keys(server_public_key);
    options.curve.allowed_client_keys = {alice_keys.client_public_key,
                                         mallory_keys.client_public_key};
    BasecallServer server(options);
    TestClient alice(server.endpoint(), alice_keys);
    TestClient mallory(server.endpoint(), mallory_keys);
    ASSERT_EQ(alice.simple(MessageType::LOAD_CONFIG, "", 0, "toy_flipflop_fast").get_type(),
              MessageType::SUCCESS);
    const auto id = reply_text(
            alice.simple(MessageType::CONNECT, "", 0, connection_string("toy_flipflop_fast")));
    ASSERT_FALSE(id.empty());
    const auto samples = make_samples(1000, 3);
    ASSERT_EQ(send_read(alice, id, 1, samples, {1000}, "r"),
              std::vector<MessageType>{MessageType::RAW_BLOCK_ACCEPTED});

    for (const auto type : {MessageType::HEARTBEAT_PING, MessageType::GET_FIRST_CALLED_BLOCK,
                            MessageType::DISCONNECT}) {
        EXPECT_EQ(mallory.simple(type, id).get_type(), MessageType::CLIENT_NOT_RECOGNISED)
                << ipc_tools::message_type_as_string(type);
    }
    EXPECT_EQ(mallory.exchange(raw_block(id, MessageType::PASS_FIRST_RAW_BLOCK, 2, 0, 1, 10,
                                         make_samples(10, 1), "m"))
                      .get_type(),
              MessageType::CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(fetch_read(alice, id).blocks.size(), 1u);
}

TEST_F(ServerTest, ForgottenClientsAreNotRecognised)
{
    const auto id = connect_with("toy_flipflop_fast");
    server().forget_all_clients();
    EXPECT_EQ(client().simple(MessageType::HEARTBEAT_PING, id).get_type(),
              MessageType::CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id).get_type(),
              MessageType::CLIENT_NOT_RECOGNISED);
    // The client can register again.
    EXPECT_NE(connect(connection_string("toy_flipflop_fast")), id);
}

TEST_F(ServerTest, ClientsQuietForTheirConnectionTimeOutAreForgotten)
{
    load_config("toy_flipflop_fast");
    auto text = connection_string("toy_flipflop_fast");
    const std::string timeout = "timeout_interval=15000";
    text.replace(text.find(timeout), timeout.size(), "timeout_interval=100");
    const auto quiet = connect(text);
    const auto active = connect(text);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server().client_count() > 1 && std::chrono::steady_clock::now() < give_up) {
        ASSERT_EQ(client().simple(MessageType::HEARTBEAT_PING, active).get_type(),
                  MessageType::HEARTBEAT_ECHO);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(server().client_count(), 1u);
    EXPECT_EQ(client().simple(MessageType::GET_FIRST_CALLED_BLOCK, quiet).get_type(),
              MessageType::CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(client().simple(MessageType::HEARTBEAT_PING, active).get_type(),
              MessageType::HEARTBEAT_ECHO);
}

TEST_F(ServerTest, ConnectBeyondTheClientLimitIsRefusedWithAReason)
{
    ServerOptions options;
    options.max_clients = 1;
    start(options);
    const auto first = connect_with("toy_flipflop_fast");
    const auto refused =
            client().simple(MessageType::CONNECT, "", 0, connection_string("toy_flipflop_fast"));
    EXPECT_EQ(refused.get_type(), MessageType::BAD_REQUEST);
    EXPECT_THAT(reply_text(refused), HasSubstr("serves at most 1 clients"));

    // The library gives up at once (a refusal it retried would time out instead) and says why.
    tamsu::TamsuClient library_client(server().endpoint().substr(6), "toy_flipflop_fast");
    library_client.set_reconnect_timeout(30);
    EXPECT_NE(library_client.connect(), tamsu::Result::success);
    EXPECT_THAT(library_client.get_error_message(), HasSubstr("serves at most 1 clients"));

    EXPECT_EQ(client().simple(MessageType::DISCONNECT, first).get_type(),
              MessageType::DISCONNECTED);
    library_client.disconnect();
    EXPECT_EQ(library_client.connect(), tamsu::Result::success);
    EXPECT_EQ(server().client_count(), 1u);
}

std::uint64_t requests_received(TestClient& client)
{
    rapidjson::Document state;
    state.Parse(reply_text(client.simple(MessageType::GET_STATE)).c_str());
    return state.HasMember("Statistics") ? state["Statistics"]["requests_received"].GetUint64() : 0;
}

TEST_F(ServerTest, MessagesLargerThanTheLargestBlockNeverReachTheHandlers)
{
    using reference_server::k_max_block_samples;
    const auto id = connect_with("toy_flipflop_fast");
    EXPECT_EQ(client().exchange(raw_block(id, MessageType::PASS_FIRST_RAW_BLOCK, 1, 0, 2,
                                          2 * k_max_block_samples,
                                          make_samples(k_max_block_samples, 1),
                                          std::string(1000, 'r')))
                      .get_type(),
              MessageType::RAW_BLOCK_ACCEPTED);

    // A larger message gets its sender disconnected, and no answer.
    zmq::context_t context;
    zmq::socket_t sender(context, zmq::socket_type::req);
    sender.set(zmq::sockopt::linger, 0);
    ASSERT_EQ(zmq_socket_monitor(sender.handle(), "inproc://sender", ZMQ_EVENT_DISCONNECTED), 0);
    zmq::socket_t events(context, zmq::socket_type::pair);
    events.connect("inproc://sender");
    sender.connect(server().endpoint());
    const auto before = requests_received(client());
    const auto samples = reference_server::k_max_message_bytes / sizeof(std::int16_t) + 1;
    zmq::message_t oversized;
    raw_block(id, MessageType::PASS_FIRST_RAW_BLOCK, 2, 0, 1, samples, make_samples(samples, 2),
              "big")
            .transfer_to_zmq(oversized);
    sender.send(oversized, zmq::send_flags::none);
    zmq::pollitem_t items[] = {{events.handle(), 0, ZMQ_POLLIN, 0}};
    ASSERT_EQ(zmq::poll(items, 1, std::chrono::seconds(20)), 1) << "the sender stayed connected";

    // Other clients are served, and the handlers saw only their requests.
    EXPECT_EQ(requests_received(client()), before + 1);
    EXPECT_EQ(client().simple(MessageType::HEARTBEAT_PING, id).get_type(),
              MessageType::HEARTBEAT_ECHO);
}

// Reassembles a returned read and compares it with what the toy caller predicts.
void expect_matches_prediction(const ReturnedRead& read, const std::vector<std::int16_t>& samples,
                               const std::vector<std::size_t>& block_sizes,
                               const std::string& config_name, std::uint32_t tag)
{
    const auto& config = *reference_server::find_config(config_name);
    auto predicted = ToyCaller::call(samples, 10.0f, 0.5f, config, {});
    ASSERT_EQ(read.blocks.size(), block_sizes.size());
    const auto& first = read.called(0);
    EXPECT_EQ(read.block(0).read_tag(), tag);
    EXPECT_EQ(read.block(0).num_blocks(), block_sizes.size());
    EXPECT_EQ(first.total_events(), samples.size() / config.model_stride);
    EXPECT_EQ(first.total_events(), predicted.total_events);
    EXPECT_EQ(first.sequence_length(), predicted.sequence.size());
    EXPECT_EQ(first.state_size(), config.state_size);
    EXPECT_EQ(first.model_stride(), config.model_stride);
    EXPECT_EQ(first.label_length(), config.label_length);
    EXPECT_EQ(first.trimmed_samples(), predicted.trimmed_samples);
    EXPECT_FLOAT_EQ(first.mean_qscore(), predicted.mean_qscore);
    EXPECT_FLOAT_EQ(first.call_score(), predicted.call_score);
    EXPECT_FLOAT_EQ(first.median(), predicted.median);
    EXPECT_FLOAT_EQ(first.med_abs_dev(), predicted.med_abs_dev);
    EXPECT_FLOAT_EQ(first.stay_prob() + first.step_prob(), 1.0f);
    EXPECT_EQ(first.basecall_type()->str(), config.basecall_type);
    ASSERT_NE(first.scaling(), nullptr);
    EXPECT_FLOAT_EQ(first.scaling()->pt_median(), predicted.pt_median);
    ASSERT_NE(first.alignments(), nullptr);
    EXPECT_EQ(first.alignments()->size(), 0u);
    EXPECT_EQ(first.barcoding(), nullptr);

    std::string sequence, qstring, moves, trace, runs, probabilities;
    std::vector<float> run_values_0;
    std::vector<std::uint32_t> run_values_3;
    std::uint32_t events = 0;
    for (std::size_t i = 0; i < read.blocks.size(); ++i) {
        const auto& block = read.called(i);
        EXPECT_EQ(read.block(i).block_index(), i);
        EXPECT_EQ(read.block(i).read_tag(), tag);
        events += block.block_events();
        sequence += block.sequence()->str();
        qstring += block.qstring()->str();
        if (const auto* flipflop = block.trace_results_as_FlipflopTraceData()) {
            EXPECT_EQ(flipflop->moves()->size(), block.block_events());
            EXPECT_EQ(flipflop->trace()->size(), 8u * block.block_events());
            moves += bytes_as_text(flipflop->moves());
            trace += bytes_as_text(flipflop->trace());
        }
        if (const auto* runlength = block.trace_results_as_RunlengthTraceData()) {
            EXPECT_EQ(runlength->total_runs(), i == 0 ? predicted.runs.size() : 0u);
            EXPECT_EQ(runlength->runs()->size(), block.sequence()->size());
            runs += bytes_as_text(runlength->runs());
            run_values_0.insert(run_values_0.end(), runlength->run_values_0()->begin(),
                                runlength->run_values_0()->end());
            run_values_3.insert(run_values_3.end(), runlength->run_values_3()->begin(),
                                runlength->run_values_3()->end());
        }
        if (block.base_mods() != nullptr) {
            probabilities += bytes_as_text(block.base_mods()->probabilities());
        }
        EXPECT_EQ(block.state_data(), nullptr);
    }
    // Block i covers the events of raw block i.
    EXPECT_EQ(read.called(0).block_events(), block_sizes[0] / config.model_stride);
    EXPECT_EQ(events, predicted.total_events);
    EXPECT_EQ(sequence, predicted.sequence);
    EXPECT_EQ(qstring, predicted.qstring);
    EXPECT_EQ(moves, std::string(predicted.moves.begin(), predicted.moves.end()));
    EXPECT_EQ(trace, std::string(predicted.trace.begin(), predicted.trace.end()));
    EXPECT_EQ(runs, std::string(predicted.runs.begin(), predicted.runs.end()));
    EXPECT_EQ(run_values_0, predicted.run_values_0);
    EXPECT_EQ(run_values_3, predicted.run_values_3);
    EXPECT_EQ(probabilities,
              std::string(predicted.mod_probabilities.begin(), predicted.mod_probabilities.end()));
    if (!config.mod_alphabet.empty()) {
        EXPECT_EQ(first.base_mods()->alphabet()->str(), config.mod_alphabet);
        EXPECT_EQ(first.base_mods()->long_names()->str(), config.mod_long_names);
    }
}

TEST_F(ServerTest, MultiBlockReadsComeBackInTheSameBlocksAsPredicted)
{
    std::uint32_t tag = 100;
    for (const auto& config : reference_server::built_in_configs()) {
        SCOPED_TRACE(config.name);
        const auto id = connect_with(config.name);
        const auto samples = make_samples(3000 + tag, tag);
        const std::vector<std::size_t> blocks = {1200, 1200, samples.size() - 2400};
        const auto accepted = send_read(client(), id, tag, samples, blocks, "read-" + config.name);
        EXPECT_THAT(accepted, testing::Each(MessageType::RAW_BLOCK_ACCEPTED));
        const auto read = fetch_read(client(), id);
        expect_matches_prediction(read, samples, blocks, config.name, tag);
        EXPECT_EQ(client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id).get_type(),
                  MessageType::NONE_PENDING);
        // The read is forgotten once its last block went out.
        EXPECT_EQ(client().simple(MessageType::GET_NEXT_CALLED_BLOCK, id, tag).get_type(),
                  MessageType::BAD_REQUEST);
        ++tag;
    }
}

TEST_F(ServerTest, LongReadInManyBlocksRoundTrips)
{
    const auto id = connect_with("toy_flipflop_fast");
    const auto samples = make_samples(400000, 11);
    const std::vector<std::size_t> blocks(40, 10000);
    EXPECT_THAT(send_read(client(), id, 77, samples, blocks, "long"),
                testing::Each(MessageType::RAW_BLOCK_ACCEPTED));
    const auto read = fetch_read(client(), id);
    expect_matches_prediction(read, samples, blocks, "toy_flipflop_fast", 77);
}

TEST_F(ServerTest, FirstCalledBlockFlagsDropEventsOrAddStateData)
{
    const auto id = connect_with("toy_flipflop_fast");
    const auto samples = make_samples(2000, 7);
    const std::vector<std::size_t> blocks = {1000, 1000};
    send_read(client(), id, 1, samples, blocks, "a");
    send_read(client(), id, 2, samples, blocks, "b");

    const auto without_events = fetch_read(client(), id, 1);
    ASSERT_EQ(without_events.blocks.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(without_events.called(i).trace_results_type(), tamsu_ipc::TraceResults::NONE);
        EXPECT_EQ(without_events.called(i).state_data(), nullptr);
        EXPECT_GT(without_events.called(i).sequence()->size(), 0u);
    }

    const auto with_state = fetch_read(client(), id, 2);
    ASSERT_EQ(with_state.blocks.size(), 2u);
    auto predicted =
            ToyCaller::call(samples, 10.0f, 0.5f,
                            *reference_server::find_config("toy_flipflop_fast"), {true, true});
    std::vector<float> state;
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& block = with_state.called(i);
        EXPECT_NE(block.trace_results_as_FlipflopTraceData(), nullptr);
        ASSERT_NE(block.state_data(), nullptr);
        EXPECT_EQ(block.state_data()->size(), block.block_events() * predicted.state_size);
        state.insert(state.end(), block.state_data()->begin(), block.state_data()->end());
    }
    EXPECT_EQ(state, predicted.state_data);
}

TEST_F(ServerTest, CompletedReadsComeBackOutOfSubmissionOrder)
{
    // One worker completes reads in submission order, so the expected order is fixed.
    start(1);
    const auto id = connect_with("toy_flipflop_fast");
    for (std::uint32_t tag = 1; tag <= 3; ++tag) {
        send_read(client(), id, tag, make_samples(500, tag), {500}, "r" + std::to_string(tag));
    }
    ASSERT_TRUE(wait_for_called(3));
    std::vector<std::uint32_t> order;
    for (int i = 0; i < 3; ++i) {
        const auto read = fetch_read(client(), id);
        ASSERT_EQ(read.blocks.size(), 1u);
        order.push_back(read.block(0).read_tag());
    }
    EXPECT_EQ(order, (std::vector<std::uint32_t>{3, 1, 2}));
}

TEST_F(ServerTest, NonePendingReportsLostReadsOnce)
{
    const auto id = connect_with("toy_flipflop_fast");
    auto none = client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id);
    EXPECT_EQ(none.get_type(), MessageType::NONE_PENDING);
    EXPECT_EQ(reply_value(none), 0u);

    FaultSettings faults;
    faults.lose_reads = true;
    server().set_faults(faults);
    send_read(client(), id, 5, make_samples(500, 5), {500}, "lost");
    ASSERT_TRUE(wait_for_called(1));
    auto lost = client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id);
    EXPECT_EQ(lost.get_type(), MessageType::NONE_PENDING);
    EXPECT_EQ(reply_value(lost), 1u);
    EXPECT_EQ(reply_value(client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id)), 0u);
}

std::vector<std::string> file_lines(const std::string& path)
{
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

// One worker, a lost reads file, and one connected client whose read "dropped" was lost but not
// yet reported.
class LostReadsTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerOptions options;
        options.worker_threads = 1;
        options.lost_reads_file = m_dir.path("lost.tsv");
        start(options);
        m_id = connect_with("toy_flipflop_fast");
        m_faults.lose_reads = true;
        server().set_faults(m_faults);
        send_read(client(), m_id, 1, make_samples(500, 1), {500}, "dropped");
        ASSERT_TRUE(wait_for_called(1));
    }

    std::vector<std::string> recorded() const { return file_lines(m_dir.path("lost.tsv")); }

    TempDir m_dir;
    std::string m_id;
    FaultSettings m_faults;
};

TEST_F(LostReadsTest, ReportTakesEveryFullyReceivedReadAndIsRecordedUntilAcknowledged)
{
    const auto& id = m_id;
    // Called, or still being called, when the loss is reported: the client drops them all the
    // same.
    m_faults.lose_reads = false;
    m_faults.call_delay = std::chrono::hours(1);
    server().set_faults(m_faults);
    send_read(client(), id, 2, make_samples(500, 2), {500}, "held");
    ASSERT_TRUE(wait_for_called(2));
    m_faults.call_time = std::chrono::milliseconds(500);
    server().set_faults(m_faults);
    send_read(client(), id, 3, make_samples(500, 3), {500}, "busy");
    // Still arriving: the client keeps it.
    const auto samples = make_samples(1000, 4);
    const std::vector<std::int16_t> first(samples.begin(), samples.begin() + 500);
    const std::vector<std::int16_t> second(samples.begin() + 500, samples.end());
    ASSERT_EQ(client().exchange(raw_block(id, MessageType::PASS_FIRST_RAW_BLOCK, 4, 0, 2, 1000,
                                          first, "arriving"))
                      .get_type(),
              MessageType::RAW_BLOCK_ACCEPTED);
    EXPECT_EQ(reads_in_flight(), 3u);

    EXPECT_EQ(reply_value(client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id)), 1u);
    EXPECT_THAT(recorded(), testing::UnorderedElementsAre("reported\t" + id + "\tdropped",
                                                          "reported\t" + id + "\theld",
                                                          "reported\t" + id + "\tbusy"));
    EXPECT_EQ(reads_in_flight(), 1u);
    // Any later request on the connection shows the report arrived.
    EXPECT_EQ(client().simple(MessageType::HEARTBEAT_PING, id).get_type(),
              MessageType::HEARTBEAT_ECHO);
    EXPECT_EQ(recorded().back(), "acknowledged\t" + id);
    // A read dropped while it was being called stays dropped when the call ends.
    ASSERT_TRUE(wait_for_called(3));
    EXPECT_EQ(reads_in_flight(), 1u);

    server().set_faults(FaultSettings());
    EXPECT_EQ(client().exchange(raw_block(id, MessageType::PASS_NEXT_RAW_BLOCK, 4, 1, 2, 1000,
                                          second, "arriving"))
                      .get_type(),
              MessageType::RAW_BLOCK_ACCEPTED);
    const auto read = fetch_read(client(), id);
    ASSERT_EQ(read.blocks.size(), 2u);
    EXPECT_EQ(read.block(0).read_id()->str(), "arriving");
    EXPECT_EQ(reply_value(client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id)), 0u);
    EXPECT_EQ(recorded().size(), 4u);
}

TEST_F(LostReadsTest, ReadsOfAForgottenClientAreNeitherReturnedNorReported)
{
    server().forget_all_clients();
    EXPECT_EQ(client().simple(MessageType::GET_FIRST_CALLED_BLOCK, m_id).get_type(),
              MessageType::CLIENT_NOT_RECOGNISED);
    // The client resends what it had in flight; nothing was reported lost.
    EXPECT_TRUE(recorded().empty());
}

TEST(LostReadsFileTest, UnwritablePathFailsTheServerStart)
{
    ServerOptions options;
    options.lost_reads_file = "/nonexistent-directory/lost.tsv";
    EXPECT_THROW(BasecallServer server(options), std::runtime_error);
}

TEST_F(ServerTest, InFlightLimitAnswersNotReadyToFirstBlocksOnly)
{
    FaultSettings faults;
    faults.max_reads_in_flight = 1;
    server().set_faults(faults);
    const auto id = connect_with("toy_modbase");
    const auto samples = make_samples(1200, 3);
    // A read that is still arriving counts.
    EXPECT_EQ(send_read(client(), id, 1, samples, {600}, "one")[0],
              MessageType::RAW_BLOCK_ACCEPTED);
    EXPECT_EQ(send_read(client(), id, 2, samples, {600, 600}, "two")[0], MessageType::NOT_READY);
    EXPECT_EQ(fetch_read(client(), id).blocks.size(), 1u);
    EXPECT_THAT(send_read(client(), id, 2, samples, {600, 600}, "two"),
                testing::Each(MessageType::RAW_BLOCK_ACCEPTED));
}

TEST_F(ServerTest, BlocksOutOfOrderOrForUnknownReadsAreBadRequests)
{
    const auto id = connect_with("toy_flipflop_fast");
    const auto samples = make_samples(100, 1);
    auto send = [&](MessageType type, std::uint32_t tag, std::uint32_t index,
                    std::uint32_t blocks) {
        return client().exchange(raw_block(id, type, tag, index, blocks, 300, samples, "r"));
    };
    EXPECT_EQ(send(MessageType::PASS_NEXT_RAW_BLOCK, 9, 1, 3).get_type(), MessageType::BAD_REQUEST);
    EXPECT_EQ(send(MessageType::PASS_FIRST_RAW_BLOCK, 9, 1, 3).get_type(),
              MessageType::BAD_REQUEST);
    EXPECT_EQ(send(MessageType::PASS_FIRST_RAW_BLOCK, 9, 0, 0).get_type(),
              MessageType::BAD_REQUEST);
    EXPECT_EQ(send(MessageType::PASS_FIRST_RAW_BLOCK, 9, 0, 3).get_type(),
              MessageType::RAW_BLOCK_ACCEPTED);
    auto skipped = send(MessageType::PASS_NEXT_RAW_BLOCK, 9, 2, 3);
    EXPECT_EQ(skipped.get_type(), MessageType::BAD_REQUEST);
    EXPECT_THAT(reply_text(skipped), HasSubstr("expected 1"));
    EXPECT_EQ(send(MessageType::PASS_NEXT_RAW_BLOCK, 9, 1, 3).get_type(),
              MessageType::RAW_BLOCK_ACCEPTED);
    EXPECT_EQ(client().simple(MessageType::GET_NEXT_CALLED_BLOCK, id, 77).get_type(),
              MessageType::BAD_REQUEST);
}

TEST_F(ServerTest, UnreadableAndNonRequestMessagesAreBadRequests)
{
    zmq::message_t garbage(std::string("definitely not a flatbuffer"));
    auto reply = client().exchange_raw(garbage);
    EXPECT_EQ(reply.get_type(), MessageType::BAD_REQUEST);
    EXPECT_FALSE(reply_text(reply).empty());

    zmq::message_t empty;
    EXPECT_EQ(client().exchange_raw(empty).get_type(), MessageType::BAD_REQUEST);

    // A valid message with a foreign identifier.
    Message foreign(MessageType::GET_STATE, "", 0, "");
    zmq::message_t bytes;
    foreign.transfer_to_zmq(bytes);
    std::memcpy(static_cast<char*>(bytes.data()) + 4, "0006", 4);
    EXPECT_EQ(client().exchange_raw(bytes).get_type(), MessageType::BAD_REQUEST);

    for (const auto type : {MessageType::SUCCESS, MessageType::CONNECTED, MessageType::TERMINATE,
                            MessageType::HEARTBEAT_ECHO}) {
        auto answer = client().simple(type);
        EXPECT_EQ(answer.get_type(), MessageType::BAD_REQUEST)
                << ipc_tools::message_type_as_string(type);
        EXPECT_FALSE(reply_text(answer).empty());
    }
    EXPECT_EQ(client().simple(MessageType::HEARTBEAT_PING).get_type(), MessageType::BAD_REQUEST);
}

TEST_F(ServerTest, RandomAndMutatedInputNeverStopsTheServer)
{
    const auto id = connect_with("toy_flipflop_fast");
    std::mt19937 random(12345);
    std::vector<Message> seeds;
    seeds.push_back(raw_block(id, MessageType::PASS_FIRST_RAW_BLOCK, 3, 0, 2, 40,
                              make_samples(20, 3), "seed"));
    seeds.push_back(Message(MessageType::CONNECT, "", 0, connection_string("toy_flipflop_fast")));
    seeds.push_back(Message(MessageType::GET_FIRST_CALLED_BLOCK, id, 3, ""));
    for (int round = 0; round < 300; ++round) {
        zmq::message_t bytes;
        if (round % 3 == 0) {
            std::vector<char> noise(random() % 200);
            for (auto& byte : noise) {
                byte = static_cast<char>(random());
            }
            if (noise.size() >= 8 && round % 2 == 0) {
                std::memcpy(noise.data() + 4, "0007", 4);
            }
            bytes.rebuild(noise.size());
            std::copy(noise.begin(), noise.end(), static_cast<char*>(bytes.data()));
        } else {
            auto copy = seeds[static_cast<std::size_t>(round) % seeds.size()].copy();
            copy.transfer_to_zmq(bytes);
            auto* data = static_cast<unsigned char*>(bytes.data());
            for (int flips = 0; flips < 4; ++flips) {
                const auto at = 8 + random() % (bytes.size() - 8);
                data[at] = static_cast<unsigned char>(random());
            }
        }
        auto reply = client().exchange_raw(bytes);
        ASSERT_NE(reply.get_type(), MessageType::UNSET) << "no readable reply in round " << round;
    }
    auto stats = client().simple(MessageType::GET_STATISTICS);
    EXPECT_EQ(stats.get_type(), MessageType::RETURN_STATISTICS);
}

TEST_F(ServerTest, SilenceLeavesRequestsUnanswered)
{
    FaultSettings faults;
    faults.silent_requests = 1;
    server().set_faults(faults);
    EXPECT_EQ(client().exchange(Message(MessageType::GET_STATE, "", 0, ""),
                                std::chrono::milliseconds(300))
                      .get_type(),
              MessageType::UNSET);
    // The second client must not be the one left unanswered.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server().faults().silent_requests > 0 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(server().faults().silent_requests, 0u);

    TestClient second(server().endpoint());
    EXPECT_EQ(second.simple(MessageType::GET_STATE).get_type(), MessageType::RETURN_STATE);

    faults.silent = true;
    server().set_faults(faults);
    TestClient third(server().endpoint());
    EXPECT_EQ(third.exchange(Message(MessageType::GET_STATE, "", 0, ""),
                             std::chrono::milliseconds(300))
                      .get_type(),
              MessageType::UNSET);
    server().set_faults(FaultSettings{});
    TestClient fourth(server().endpoint());
    EXPECT_EQ(fourth.simple(MessageType::GET_STATE).get_type(), MessageType::RETURN_STATE);
}

TEST_F(ServerTest, TwoClientsGetOnlyTheirOwnReads)
{
    load_config("toy_flipflop_fast");
    load_config("toy_runlength");
    auto run_client = [this](const std::string& config, std::uint32_t first_tag,
                             std::vector<std::uint32_t>& tags) {
        TestClient own(server().endpoint());
        auto reply = own.simple(MessageType::CONNECT, "", 0, connection_string(config));
        if (reply.get_type() != MessageType::CONNECTED) {
            return;
        }
        const auto id = reply_text(reply);
        for (std::uint32_t tag = first_tag; tag < first_tag + 4; ++tag) {
            send_read(own, id, tag, make_samples(900, tag), {450, 450}, config);
        }
        for (int i = 0; i < 4; ++i) {
            const auto read = fetch_read(own, id);
            if (read.blocks.size() != 2) {
                return;
            }
            tags.push_back(read.block(0).read_tag());
        }
    };
    std::vector<std::uint32_t> first_tags;
    std::vector<std::uint32_t> second_tags;
    std::thread first([&] { run_client("toy_flipflop_fast", 10, first_tags); });
    std::thread second([&] { run_client("toy_runlength", 20, second_tags); });
    first.join();
    second.join();
    EXPECT_THAT(first_tags, testing::UnorderedElementsAre(10u, 11u, 12u, 13u));
    EXPECT_THAT(second_tags, testing::UnorderedElementsAre(20u, 21u, 22u, 23u));
}

TEST_F(ServerTest, StatisticsAndStateDescribeTheServer)
{
    load_config("toy_flipflop_fast");
    const auto text = connection_string("toy_flipflop_fast");
    auto connected = client().simple(MessageType::CONNECT, "", 2, text);
    ASSERT_EQ(connected.get_type(), MessageType::CONNECTED);
    const auto id = reply_text(connected);
    const auto samples = make_samples(1000, 2);
    send_read(client(), id, 1, samples, {1000}, "r");
    const auto read = fetch_read(client(), id);
    ASSERT_EQ(read.blocks.size(), 1u);

    auto reply = client().simple(MessageType::GET_STATISTICS);
    ASSERT_EQ(reply.get_type(), MessageType::RETURN_STATISTICS);
    const auto* stats = reply.get_message_data()->content_as_ServerStats();
    EXPECT_EQ(stats->stat_0(), 1u);
    EXPECT_EQ(stats->stat_1(), 1u);
    EXPECT_EQ(stats->stat_2(), samples.size());
    EXPECT_EQ(stats->stat_3(), read.called(0).sequence_length());
    ASSERT_EQ(stats->clients()->size(), 1u);
    EXPECT_EQ(stats->clients()->Get(0)->value_0(), 0u);
    EXPECT_EQ(stats->clients()->Get(0)->value_1(), 1u);

    auto state = client().simple(MessageType::GET_STATE);
    ASSERT_EQ(state.get_type(), MessageType::RETURN_STATE);
    rapidjson::Document json;
    json.Parse(reply_text(state).c_str());
    ASSERT_FALSE(json.HasParseError());
    ASSERT_TRUE(json.HasMember("ServerInformation"));
    const auto& information = json["ServerInformation"];
    EXPECT_EQ(std::string(information["endpoint"].GetString()), server().endpoint());
    EXPECT_EQ(information["connected_clients"].GetUint(), 1u);
    // Whoever may ask must not learn an id to act as the client with.
    EXPECT_THAT(reply_text(state), Not(HasSubstr(id)));
    const auto& entry = json["Clients"][0];
    EXPECT_EQ(std::string(entry["connection_string"].GetString()), text);
    EXPECT_EQ(entry["priority"].GetUint(), 2u);
    EXPECT_EQ(entry["timeout_interval"].GetUint(), 15000u);
}

TEST_F(ServerTest, ListsBarcodeAndLampKits)
{
    auto barcodes = client().simple(MessageType::GET_BARCODE_KITS);
    ASSERT_EQ(barcodes.get_type(), MessageType::RETURN_CONFIGS);
    const auto* kits = barcodes.get_message_data()->content_as_ConfigListData()->barcode_kits();
    ASSERT_EQ(kits->size(), reference_server::built_in_barcode_kits().size());
    bool dual = false, both_ends = false, twelve_a = false;
    for (const auto* kit : *kits) {
        dual |= kit->is_dual();
        both_ends |= kit->is_both_ends();
        twelve_a |= kit->twelve_a();
        EXPECT_NE(kit->name_format(), nullptr);
        EXPECT_LE(kit->first_index(), kit->last_index());
    }
    EXPECT_TRUE(dual && both_ends && twelve_a);

    auto lamps = client().simple(MessageType::GET_LAMP_KITS);
    ASSERT_EQ(lamps.get_type(), MessageType::RETURN_CONFIGS);
    const auto* lamp_kits = lamps.get_message_data()->content_as_ConfigListData()->lamp_kits();
    ASSERT_EQ(lamp_kits->size(), reference_server::built_in_lamp_kits().size());
    EXPECT_EQ(lamp_kits->Get(0)->targets()->size(),
              reference_server::built_in_lamp_kits()[0].targets.size());
}

TEST_F(ServerTest, BarcodedAndAlignedReadsCarryThoseResults)
{
    TempDir dir;
    const auto& config = *reference_server::find_config("toy_modbase");
    const auto samples = make_samples(3000, 42);
    const auto predicted = ToyCaller::call(samples, 10.0f, 0.5f, config, {});
    const auto fasta =
            dir.write("ref.fa", ">decoy\nNNNN\n>chr7\nTTTTT" + predicted.sequence + "GGG\n");
    const auto bed = dir.write("ref.bed", "chr7\t0\t10\tfront\nchr7\t1000000\t1000010\tfar\n"
                                          "chr1\t0\t10\tother\n");
    ASSERT_EQ(client().simple(MessageType::LOAD_INDEX, "", 0, fasta).get_type(),
              MessageType::SUCCESS);
    ASSERT_EQ(client().simple(MessageType::LOAD_BED, "", 0, bed).get_type(), MessageType::SUCCESS);
    load_config(config.name);
    const auto id =
            connect(connection_string(config.name, "TOY-DUAL", fasta, bed, ">lamp_kit=TOY-LAMP"));
    send_read(client(), id, 8, samples, {1500, 1500}, "barcoded-read");
    const auto read = fetch_read(client(), id);
    ASSERT_EQ(read.blocks.size(), 2u);

    const auto* barcoding = read.called(0).barcoding();
    ASSERT_NE(barcoding, nullptr);
    EXPECT_EQ(barcoding->kit()->str(), "TOY-DUAL");
    EXPECT_THAT(barcoding->arrangement()->str(), testing::StartsWith("barcode_external0"));
    EXPECT_THAT(barcoding->arrangement()->str(), HasSubstr("_internal"));
    EXPECT_EQ(barcoding->full_arrangement()->str(), "TOY-DUAL_" + barcoding->arrangement()->str());
    ASSERT_TRUE(barcoding->front() && barcoding->rear() && barcoding->mid_front() &&
                barcoding->mid_rear() && barcoding->lamp() && barcoding->adapter());
    EXPECT_EQ(barcoding->front()->foundseq()->str(), predicted.sequence.substr(0, 24));
    EXPECT_THAT(barcoding->lamp()->barcode_id()->str(), testing::StartsWith("FIP"));
    EXPECT_EQ(read.called(1).barcoding(), nullptr);

    const auto* alignments = read.called(0).alignments();
    ASSERT_EQ(alignments->size(), 1u);
    const auto* hit = alignments->Get(0);
    const auto length = static_cast<std::int32_t>(predicted.sequence.size());
    EXPECT_EQ(hit->genome()->str(), "chr7");
    EXPECT_EQ(hit->direction(), '+');
    EXPECT_EQ(hit->genome_start(), 5);
    EXPECT_EQ(hit->genome_end(), 5 + length);
    EXPECT_EQ(hit->num_aligned(), length);
    EXPECT_FLOAT_EQ(hit->coverage(), 1.0f);
    EXPECT_EQ(hit->bed_hits(), 1);
    EXPECT_EQ(hit->bed_lines()->str(), "chr7\t0\t10\tfront");
    EXPECT_THAT(hit->sam_record()->str(), testing::StartsWith("barcoded-read\t0\tchr7\t6\t60\t" +
                                                              std::to_string(length) + "M\t"));
}

TEST_F(ServerTest, CallDelayHoldsReadsBack)
{
    FaultSettings faults;
    faults.call_delay = std::chrono::milliseconds(1500);
    server().set_faults(faults);
    const auto id = connect_with("toy_flipflop_fast");
    send_read(client(), id, 4, make_samples(500, 4), {500}, "slow");
    EXPECT_EQ(client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id).get_type(),
              MessageType::NONE_PENDING);
    EXPECT_EQ(fetch_read(client(), id).blocks.size(), 1u);
}

TEST_F(ServerTest, ZeroWorkReturnsEmptyReadsInTheirBlocks)
{
    FaultSettings faults;
    faults.zero_work = true;
    server().set_faults(faults);
    const auto id = connect_with("toy_runlength");
    send_read(client(), id, 6, make_samples(4000, 6), {2000, 2000}, "quick");
    // Called on the spot: no wait for workers.
    auto first = client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id);
    ASSERT_EQ(first.get_type(), MessageType::RETURN_FIRST_CALLED_BLOCK);
    const auto* block = first.get_message_data()->content_as_ReadBlockData();
    EXPECT_EQ(block->num_blocks(), 2u);
    EXPECT_EQ(block->called_block()->total_events(), 0u);
    EXPECT_EQ(block->called_block()->sequence()->size(), 0u);
    EXPECT_EQ(client().simple(MessageType::GET_NEXT_CALLED_BLOCK, id, 6).get_type(),
              MessageType::RETURN_NEXT_CALLED_BLOCK);
}

}  // namespace
