#include "client/tamsu_client.h"
#include "server/basecall_server.h"
#include "server/catalogue.h"
#include "server/toy_caller.h"
#include "server_test_client.h"
#include "support/temp_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <fstream>
#include <random>
#include <thread>

namespace {

using namespace server_test;
using reference_server::BasecallServer;
using reference_server::FaultSettings;
using reference_server::ServerOptions;
using reference_server::ToyCaller;
using testing::HasSubstr;
using testing::Not;

using tamsu_test::TempDirectory;

std::string write_file(const TempDirectory& dir, const std::string& name,
                       const std::string& content)
{
    std::ofstream(dir.file(name)) << content;
    return dir.file(name);
}

class ServerTest : public testing::Test {
protected:
    void start(ServerOptions options = ServerOptions())
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

TEST_F(ServerTest, LoadsKnownConfigurationsAndListsOnlyLoadedOnes)
{
    FaultSettings faults;
    faults.refused_configs = {"toy_modbase"};
    server().set_faults(faults);
    for (const auto& refusal : {std::make_pair("no_such_config", "no_such_config"),
                                std::make_pair("toy_modbase", "refused")}) {
        auto reply = client().simple(MessageType::LOAD_CONFIG, "", 0, refusal.first);
        EXPECT_EQ(reply.get_type(), MessageType::REQUEST_FAILED) << refusal.first;
        EXPECT_THAT(reply_text(reply), HasSubstr(refusal.second));
    }

    load_config("toy_runlength");
    auto reply = client().simple(MessageType::GET_CONFIGS);
    ASSERT_EQ(reply.get_type(), MessageType::RETURN_CONFIGS);
    const auto* configs = reply.get_message_data()->content_as_ConfigListData()->configs();
    ASSERT_EQ(configs->size(), 1u);
    const auto* entry = configs->Get(0);
    const auto& expected = *reference_server::find_config("toy_runlength");
    EXPECT_EQ(entry->name()->str(), "toy_runlength");
    EXPECT_EQ(entry->model_type()->str(), expected.model_type);
    EXPECT_EQ(entry->model_stride(), 10u);
    EXPECT_EQ(entry->label_length(), expected.label_length);
    EXPECT_FLOAT_EQ(entry->qscore_scale(), expected.qscore_scale);
}

TEST_F(ServerTest, LoadDelayAnswersLoadingUntilItHasElapsed)
{
    TempDirectory dir;
    const auto fasta = write_file(dir, "ref.fa", ">chr1\nACGTACGT\n");
    const auto bed = write_file(dir, "ref.bed", "chr1\t0\t4\n");
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

// Parsing rules live in reference_data_test; here only that the server answers with them.
TEST_F(ServerTest, LoadsIndicesAndBedFilesAndRejectsBadOnes)
{
    TempDirectory dir;
    const auto fasta = write_file(dir, "ref.fa", ">chr1 first\nACGT\nAC\n>chr2\nGGGG\n");
    EXPECT_EQ(client().simple(MessageType::LOAD_INDEX, "", 0, fasta).get_type(),
              MessageType::SUCCESS);
    auto missing = client().simple(MessageType::LOAD_INDEX, "", 0, dir.file("missing.fa"));
    EXPECT_EQ(missing.get_type(), MessageType::REQUEST_FAILED);
    EXPECT_THAT(reply_text(missing), HasSubstr("missing.fa"));

    auto reply = client().simple(MessageType::GET_INDICES);
    ASSERT_EQ(reply.get_type(), MessageType::RETURN_CONFIGS);
    const auto* indices = reply.get_message_data()->content_as_ConfigListData()->indices();
    ASSERT_EQ(indices->size(), 1u);
    EXPECT_EQ(indices->Get(0)->name()->str(), fasta);
    EXPECT_THAT(indices->Get(0)->header()->str(), HasSubstr("@SQ\tSN:chr1\tLN:6\n"));

    const auto bed = write_file(dir, "a.bed", "chr1\t0\t3\tgene\n");
    EXPECT_EQ(client().simple(MessageType::LOAD_BED, "", 0, bed).get_type(), MessageType::SUCCESS);
    auto failed =
            client().simple(MessageType::LOAD_BED, "", 0, write_file(dir, "bad.bed", "chr1\t5\n"));
    EXPECT_EQ(failed.get_type(), MessageType::REQUEST_FAILED);
    EXPECT_THAT(reply_text(failed), HasSubstr("line 1"));
}

TEST_F(ServerTest, ConnectRefusesEachMissingPiece)
{
    TempDirectory dir;
    const auto fasta = write_file(dir, "ref.fa", ">chr1\nACGT\n");
    const auto empty_fasta = write_file(dir, "empty.fa", "");
    const auto bed = write_file(dir, "a.bed", "chr1\t0\t3\n");
    const std::string config = "toy_flipflop_fast";
    EXPECT_EQ(client().simple(MessageType::CONNECT, "", 0, connection_string(config)).get_type(),
              MessageType::INVALID_CONFIG);
    load_config(config);
    ASSERT_EQ(client().simple(MessageType::LOAD_INDEX, "", 0, empty_fasta).get_type(),
              MessageType::SUCCESS);
    const std::vector<std::pair<std::string, MessageType>> refusals = {
            {"toy:>nonsense:", MessageType::BAD_REQUEST},
            {"toy:>client_name=x:::", MessageType::BAD_REQUEST},
            {connection_string(config, "TOY-BC12 NO-SUCH-KIT"), MessageType::INVALID_BARCODE_KIT},
            {connection_string(config, {}, {}, {}, ">lamp_kit=NOPE"),
             MessageType::INVALID_BARCODE_KIT},
            {connection_string(config, {}, fasta), MessageType::INVALID_INDEX},
            {connection_string(config, {}, empty_fasta), MessageType::INDEX_NO_SEQ}};
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.first);
        auto reply = client().simple(MessageType::CONNECT, "", 0, refusal.first);
        EXPECT_EQ(reply.get_type(), refusal.second);
        EXPECT_TRUE(refusal.second != MessageType::BAD_REQUEST || !reply_text(reply).empty());
    }
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
    const auto samples = make_samples(10, 1);
    std::vector<Message> requests;
    for (const auto type :
         {MessageType::HEARTBEAT_PING, MessageType::DISCONNECT, MessageType::GET_FIRST_CALLED_BLOCK,
          MessageType::GET_NEXT_CALLED_BLOCK}) {
        requests.emplace_back(type, "stranger", 0, "");
    }
    requests.push_back(
            raw_block("stranger", MessageType::PASS_FIRST_RAW_BLOCK, 1, 0, 1, 10, samples, "r"));
    requests.push_back(
            raw_block("stranger", MessageType::PASS_NEXT_RAW_BLOCK, 1, 1, 2, 10, samples, "r"));
    for (auto& request : requests) {
        const auto type = request.get_type();
        EXPECT_EQ(client().exchange(std::move(request)).get_type(),
                  MessageType::CLIENT_NOT_RECOGNISED)
                << ipc_tools::message_type_as_string(type);
    }

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

// The called read comes back in the raw read's blocks, block i holding the events of raw block
// i; that the values are the toy caller's is checked end to end in basecall_client_test.
TEST_F(ServerTest, MultiBlockReadsComeBackInTheSameBlocksAsPredicted)
{
    std::uint32_t tag = 100;
    for (const auto& config : reference_server::built_in_configs()) {
        SCOPED_TRACE(config.name);
        const auto id = connect_with(config.name);
        const auto samples = make_samples(3000 + tag, tag);
        const std::vector<std::uint32_t> blocks = {1200, 1200, 600 + tag};
        EXPECT_THAT(send_read(client(), id, tag, samples, {1200, 1200, 600 + tag}, "r"),
                    testing::Each(MessageType::RAW_BLOCK_ACCEPTED));
        const auto read = fetch_read(client(), id);
        const auto predicted = ToyCaller::call(samples, 10.0f, 0.5f, config, {});
        const auto ranges = ToyCaller::block_ranges(predicted, blocks);
        ASSERT_EQ(read.blocks.size(), blocks.size());
        EXPECT_EQ(read.called(0).total_events(), predicted.total_events);
        std::string sequence;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(read.block(i).block_index(), i);
            EXPECT_EQ(read.block(i).read_tag(), tag);
            EXPECT_EQ(read.called(i).block_events(), ranges[i].event_end - ranges[i].event_begin);
            sequence += read.called(i).sequence()->str();
        }
        EXPECT_EQ(sequence, predicted.sequence);
        EXPECT_EQ(client().simple(MessageType::GET_FIRST_CALLED_BLOCK, id).get_type(),
                  MessageType::NONE_PENDING);
        // The read is forgotten once its last block went out.
        EXPECT_EQ(client().simple(MessageType::GET_NEXT_CALLED_BLOCK, id, tag).get_type(),
                  MessageType::BAD_REQUEST);
        ++tag;
    }
}

TEST_F(ServerTest, CompletedReadsComeBackOutOfSubmissionOrder)
{
    // One worker completes reads in submission order, so the expected order is fixed.
    ServerOptions options;
    options.worker_threads = 1;
    start(options);
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
        options.lost_reads_file = m_dir.file("lost.tsv");
        start(options);
        m_id = connect_with("toy_flipflop_fast");
        m_faults.lose_reads = true;
        server().set_faults(m_faults);
        send_read(client(), m_id, 1, make_samples(500, 1), {500}, "dropped");
        ASSERT_TRUE(wait_for_called(1));
    }

    std::vector<std::string> recorded() const { return file_lines(m_dir.file("lost.tsv")); }

    TempDirectory m_dir;
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
    // A valid message with a foreign identifier.
    Message foreign(MessageType::GET_STATE, "", 0, "");
    zmq::message_t bytes;
    foreign.transfer_to_zmq(bytes);
    std::memcpy(static_cast<char*>(bytes.data()) + 4, "0006", 4);
    zmq::message_t garbage(std::string("definitely not a flatbuffer"));
    zmq::message_t empty;
    for (auto* unreadable : {&bytes, &garbage, &empty}) {
        EXPECT_EQ(client().exchange_raw(*unreadable).get_type(), MessageType::BAD_REQUEST);
    }

    for (const auto type : {MessageType::SUCCESS, MessageType::CONNECTED, MessageType::TERMINATE,
                            MessageType::HEARTBEAT_ECHO, MessageType::HEARTBEAT_PING}) {
        auto answer = client().simple(type);
        EXPECT_EQ(answer.get_type(), MessageType::BAD_REQUEST)
                << ipc_tools::message_type_as_string(type);
        EXPECT_FALSE(reply_text(answer).empty());
    }
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
    // Pure noise is covered above; flips past the identifier reach the message handlers.
    for (int round = 0; round < 300; ++round) {
        zmq::message_t bytes;
        auto copy = seeds[static_cast<std::size_t>(round) % seeds.size()].copy();
        copy.transfer_to_zmq(bytes);
        auto* data = static_cast<unsigned char*>(bytes.data());
        for (int flips = 0; flips < 4; ++flips) {
            data[8 + random() % (bytes.size() - 8)] = static_cast<unsigned char>(random());
        }
        ASSERT_NE(client().exchange_raw(bytes).get_type(), MessageType::UNSET)
                << "no readable reply in round " << round;
    }
    auto stats = client().simple(MessageType::GET_STATISTICS);
    EXPECT_EQ(stats.get_type(), MessageType::RETURN_STATISTICS);
}

TEST_F(ServerTest, SilenceLeavesRequestsUnanswered)
{
    const auto unanswered = [this] {
        TestClient own(server().endpoint());
        return own.exchange(Message(MessageType::GET_STATE, "", 0, ""),
                            std::chrono::milliseconds(300))
                       .get_type() == MessageType::UNSET;
    };
    FaultSettings faults;
    faults.silent_requests = 1;
    server().set_faults(faults);
    EXPECT_TRUE(unanswered());
    // Only that one request goes unanswered.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server().faults().silent_requests > 0 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(client().simple(MessageType::GET_STATE).get_type(), MessageType::RETURN_STATE);

    faults.silent = true;
    server().set_faults(faults);
    EXPECT_TRUE(unanswered());
    server().set_faults(FaultSettings{});
    EXPECT_FALSE(unanswered());
}

TEST_F(ServerTest, TwoClientsGetOnlyTheirOwnReads)
{
    TestClient other(server().endpoint());
    const auto first = connect_with("toy_flipflop_fast");
    load_config("toy_runlength");
    const auto second = reply_text(
            other.simple(MessageType::CONNECT, "", 0, connection_string("toy_runlength")));
    for (std::uint32_t tag = 1; tag <= 4; ++tag) {
        send_read(tag % 2 == 1 ? client() : other, tag % 2 == 1 ? first : second, tag,
                  make_samples(900, tag), {450, 450}, "r");
    }
    const auto tags_of = [](TestClient& own, const std::string& id) {
        std::vector<std::uint32_t> tags;
        for (auto read = fetch_read(own, id); read.blocks.size() == 2; read = fetch_read(own, id)) {
            tags.push_back(read.block(0).read_tag());
            if (tags.size() == 2) {
                break;
            }
        }
        return tags;
    };
    EXPECT_THAT(tags_of(client(), first), testing::UnorderedElementsAre(1u, 3u));
    EXPECT_THAT(tags_of(other, second), testing::UnorderedElementsAre(2u, 4u));
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
    EXPECT_EQ(kits->size(), reference_server::built_in_barcode_kits().size());
    auto lamps = client().simple(MessageType::GET_LAMP_KITS);
    const auto* lamp_kits = lamps.get_message_data()->content_as_ConfigListData()->lamp_kits();
    ASSERT_EQ(lamp_kits->size(), reference_server::built_in_lamp_kits().size());
    EXPECT_EQ(lamp_kits->Get(0)->targets()->size(),
              reference_server::built_in_lamp_kits()[0].targets.size());
}

// How a barcode is assigned is checked in reference_data_test, alignments and a plain kit end
// to end in basecall_client_test: here the dual and lamp kits named at connect.
TEST_F(ServerTest, BarcodedReadsCarryTheKitsNamedAtConnect)
{
    const auto samples = make_samples(3000, 42);
    load_config("toy_modbase");
    const auto id =
            connect(connection_string("toy_modbase", "TOY-DUAL", {}, {}, ">lamp_kit=TOY-LAMP"));
    send_read(client(), id, 8, samples, {1500, 1500}, "barcoded-read");
    const auto read = fetch_read(client(), id);
    ASSERT_EQ(read.blocks.size(), 2u);

    const auto* barcoding = read.called(0).barcoding();
    ASSERT_NE(barcoding, nullptr);
    EXPECT_EQ(barcoding->kit()->str(), "TOY-DUAL");
    EXPECT_THAT(barcoding->arrangement()->str(), HasSubstr("_internal"));
    EXPECT_EQ(barcoding->full_arrangement()->str(), "TOY-DUAL_" + barcoding->arrangement()->str());
    ASSERT_TRUE(barcoding->front() && barcoding->lamp());
    EXPECT_THAT(barcoding->lamp()->barcode_id()->str(), testing::StartsWith("FIP"));
    const auto predicted = ToyCaller::call(samples, 10.0f, 0.5f,
                                           *reference_server::find_config("toy_modbase"), {});
    EXPECT_EQ(barcoding->front()->foundseq()->str(), predicted.sequence.substr(0, 24));
    EXPECT_EQ(read.called(1).barcoding(), nullptr);
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
