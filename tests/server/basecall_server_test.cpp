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
#include <thread>

namespace {

using namespace server_test;
using reference_server::BasecallServer;
using reference_server::FaultSettings;
using reference_server::ServerOptions;
using reference_server::ToyCaller;
using testing::HasSubstr;
using T = MessageType;

// Waits up to a generous deadline for `done`.
template <typename Condition>
bool eventually(Condition done)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class ServerTest : public testing::Test {
protected:
    void start(const ServerOptions& options = ServerOptions())
    {
        m_server = std::make_unique<BasecallServer>(options);
        m_client = std::make_unique<TestClient>(m_server->endpoint());
    }

    void SetUp() override { start(); }

    TestClient& client() { return *m_client; }
    BasecallServer& server() { return *m_server; }

    std::string file(const std::string& name, const std::string& content)
    {
        std::ofstream(m_dir.file(name)) << content;
        return m_dir.file(name);
    }

    // Loads the configuration and connects with it (and `text`, when given).
    std::string connect_with(const std::string& config, const std::string& text = {})
    {
        EXPECT_EQ(client().simple(T::LOAD_CONFIG, "", 0, config).get_type(), T::SUCCESS);
        auto reply =
                client().simple(T::CONNECT, "", 0, text.empty() ? connection_string(config) : text);
        EXPECT_EQ(reply.get_type(), T::CONNECTED) << reply_text(reply);
        return reply.get_type() == T::CONNECTED ? reply_text(reply) : std::string();
    }

    tamsu_test::TempDirectory m_dir;
    std::unique_ptr<BasecallServer> m_server;
    std::unique_ptr<TestClient> m_client;
};

// Each request the server turns down, in order (block order is per read), with its reply type
// and, where it gives one, the reason.
TEST_F(ServerTest, EachRefusalHasItsReplyAndReason)
{
    const auto fasta = file("ref.fa", ">chr1 first\nACGT\nAC\n>chr2\nGGGG\n");
    const auto empty_fasta = file("empty.fa", "");
    FaultSettings faults;
    faults.refused_configs = {"toy_modbase"};
    server().set_faults(faults);
    const std::string config = "toy_flipflop_fast";
    const auto id = connect_with(config);
    ASSERT_EQ(client().simple(T::LOAD_INDEX, "", 0, empty_fasta).get_type(), T::SUCCESS);
    struct Case {
        T type;
        std::string text;
        T reply;
        std::string reason = "";
    };
    const std::vector<Case> cases = {
            {T::LOAD_CONFIG, "no_such_config", T::REQUEST_FAILED, "no_such_config"},
            {T::LOAD_CONFIG, "toy_modbase", T::REQUEST_FAILED, "refused"},
            {T::LOAD_INDEX, m_dir.file("missing.fa"), T::REQUEST_FAILED, "missing.fa"},
            {T::LOAD_BED, file("bad.bed", "chr1\t5\n"), T::REQUEST_FAILED, "line 1"},
            {T::CONNECT, connection_string("toy_runlength"), T::INVALID_CONFIG, ""},
            {T::CONNECT, "toy:>nonsense:", T::BAD_REQUEST, ""},
            {T::CONNECT, "toy:>client_name=x:::", T::BAD_REQUEST, ""},
            {T::CONNECT, connection_string(config, "TOY-BC12 NO-SUCH-KIT"), T::INVALID_BARCODE_KIT},
            {T::CONNECT, connection_string(config, {}, {}, {}, ">lamp_kit=NOPE"),
             T::INVALID_BARCODE_KIT},
            {T::CONNECT, connection_string(config, {}, fasta), T::INVALID_INDEX},
            {T::CONNECT, connection_string(config, {}, empty_fasta), T::INDEX_NO_SEQ},
            // Replies, and requests that need a client named without one, are no requests.
            {T::SUCCESS, "", T::BAD_REQUEST},
            {T::CONNECTED, "", T::BAD_REQUEST},
            {T::TERMINATE, "", T::BAD_REQUEST},
            {T::HEARTBEAT_ECHO, "", T::BAD_REQUEST},
            {T::HEARTBEAT_PING, "", T::BAD_REQUEST},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ipc_tools::message_type_as_string(c.type) + " " + c.text);
        const auto reply = client().simple(c.type, "", 0, c.text);
        EXPECT_EQ(reply.get_type(), c.reply);
        EXPECT_THAT(reply_text(reply), HasSubstr(c.reason));
        EXPECT_TRUE(c.reply != T::BAD_REQUEST || !reply_text(reply).empty());
    }
    for (const auto type :
         {T::HEARTBEAT_PING, T::DISCONNECT, T::GET_FIRST_CALLED_BLOCK, T::GET_NEXT_CALLED_BLOCK}) {
        EXPECT_EQ(client().simple(type, "stranger").get_type(), T::CLIENT_NOT_RECOGNISED)
                << ipc_tools::message_type_as_string(type);
    }
    EXPECT_EQ(client().simple(T::GET_NEXT_CALLED_BLOCK, id, 77).get_type(), T::BAD_REQUEST);

    // Blocks: of an unknown client, out of order, or of no read.
    const auto samples = make_samples(100, 1);
    const auto first = T::PASS_FIRST_RAW_BLOCK, next = T::PASS_NEXT_RAW_BLOCK;
    const auto block = [&](T type, const std::string& owner, std::uint32_t index,
                           std::uint32_t blocks) {
        return client().exchange(raw_block(owner, type, 9, index, blocks, 300, samples, "r"));
    };
    EXPECT_EQ(block(first, "stranger", 0, 1).get_type(), T::CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(block(next, "stranger", 1, 2).get_type(), T::CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(block(next, id, 1, 3).get_type(), T::BAD_REQUEST);
    EXPECT_EQ(block(first, id, 1, 3).get_type(), T::BAD_REQUEST);
    EXPECT_EQ(block(first, id, 0, 0).get_type(), T::BAD_REQUEST);
    EXPECT_EQ(block(first, id, 0, 3).get_type(), T::RAW_BLOCK_ACCEPTED);
    EXPECT_THAT(reply_text(block(next, id, 2, 3)), HasSubstr("expected 1"));
    EXPECT_EQ(block(next, id, 1, 3).get_type(), T::RAW_BLOCK_ACCEPTED);

    // Unreadable bytes: a valid message with a foreign identifier, noise, nothing.
    zmq::message_t foreign;
    Message(T::GET_STATE, "", 0, "").transfer_to_zmq(foreign);
    std::memcpy(static_cast<char*>(foreign.data()) + 4, "0006", 4);
    EXPECT_EQ(client().exchange(std::move(foreign)).get_type(), T::BAD_REQUEST);
    EXPECT_EQ(client().exchange(zmq::message_t(std::string("not a flatbuffer"))).get_type(),
              T::BAD_REQUEST);
    EXPECT_EQ(client().exchange(zmq::message_t()).get_type(), T::BAD_REQUEST);

    // A BED file needs its index loaded; a disconnected client is gone.
    ASSERT_EQ(client().simple(T::LOAD_INDEX, "", 0, fasta).get_type(), T::SUCCESS);
    EXPECT_EQ(client().simple(T::CONNECT, "", 0,
                              connection_string(config, {}, fasta, file("a.bed", "chr1\t0\t3\n")))
                      .get_type(),
              T::INVALID_BED);
    EXPECT_EQ(client().simple(T::DISCONNECT, id).get_type(), T::DISCONNECTED);
    EXPECT_EQ(client().simple(T::HEARTBEAT_PING, id).get_type(), T::CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(server().client_count(), 0u);
}

TEST_F(ServerTest, LoadDelayAnswersLoadingUntilItHasElapsed)
{
    const auto fasta = file("ref.fa", ">chr1\nACGTACGT\n");
    const auto bed = file("ref.bed", "chr1\t0\t4\n");
    FaultSettings faults;
    faults.load_delay = std::chrono::milliseconds(200);
    server().set_faults(faults);
    for (const auto& request :
         {std::make_pair(T::LOAD_CONFIG, "toy_modbase"),
          std::make_pair(T::LOAD_INDEX, fasta.c_str()), std::make_pair(T::LOAD_BED, bed.c_str())}) {
        const auto answer = [&] {
            return client().simple(request.first, "", 0, request.second).get_type();
        };
        EXPECT_EQ(answer(), T::LOADING);
        EXPECT_TRUE(eventually([&] { return answer() != T::LOADING; }));
        // Loaded now: no further delay.
        EXPECT_EQ(answer(), T::SUCCESS) << request.second;
    }
}

// Under CURVE a connection id answers only the client key that connected it: another admitted
// client that learns it cannot pull the reads or disconnect the client.
TEST(CurveServerTest, ConnectionIdsAnswerOnlyTheKeyThatConnected)
{
    char server_public_key[41] = {};
    ServerOptions options;
    options.curve.secret_key.resize(41);
    ASSERT_EQ(zmq_curve_keypair(server_public_key, options.curve.secret_key.data()), 0);
    options.curve.secret_key.resize(40);
    std::vector<ipc_tools::CurveKeys> keys;
    for (int i = 0; i < 2; ++i) {
        char public_key[41] = {}, secret_key[41] = {};
        ASSERT_EQ(zmq_curve_keypair(public_key, secret_key), 0);
        keys.push_back({server_public_key, public_key, secret_key});
        options.curve.allowed_client_keys.insert(public_key);
    }
    BasecallServer server(options);
    TestClient alice(server.endpoint(), keys[0]), mallory(server.endpoint(), keys[1]);
    ASSERT_EQ(alice.simple(T::LOAD_CONFIG, "", 0, "toy_flipflop_fast").get_type(), T::SUCCESS);
    const auto id =
            reply_text(alice.simple(T::CONNECT, "", 0, connection_string("toy_flipflop_fast")));
    for (const auto type : {T::HEARTBEAT_PING, T::GET_FIRST_CALLED_BLOCK, T::DISCONNECT}) {
        EXPECT_EQ(mallory.simple(type, id).get_type(), T::CLIENT_NOT_RECOGNISED)
                << ipc_tools::message_type_as_string(type);
    }
    EXPECT_EQ(alice.simple(T::HEARTBEAT_PING, id).get_type(), T::HEARTBEAT_ECHO);
}

// A client quiet for its connection time-out is forgotten, leaving room under the client limit;
// a CONNECT beyond the limit is refused with its reason.
TEST_F(ServerTest, QuietClientsAreForgottenAndConnectsBeyondTheLimitRefused)
{
    ServerOptions options;
    options.max_clients = 1;
    start(options);
    auto text = connection_string("toy_flipflop_fast");
    text.replace(text.find("=15000"), 6, "=100");
    const auto quiet = connect_with("toy_flipflop_fast", text);
    EXPECT_TRUE(eventually([&] { return server().client_count() == 0; }));
    EXPECT_EQ(client().simple(T::HEARTBEAT_PING, quiet).get_type(), T::CLIENT_NOT_RECOGNISED);

    const auto first = connect_with("toy_flipflop_fast");
    const auto refused = client().simple(T::CONNECT, "", 0, connection_string("toy_flipflop_fast"));
    EXPECT_EQ(refused.get_type(), T::BAD_REQUEST);
    EXPECT_THAT(reply_text(refused), HasSubstr("serves at most 1 clients"));
    // The library gives up at once (a refusal it retried would time out instead) and says why.
    tamsu::TamsuClient library_client(server().endpoint().substr(6), "toy_flipflop_fast");
    library_client.set_reconnect_timeout(30);
    EXPECT_NE(library_client.connect(), tamsu::Result::success);
    EXPECT_THAT(library_client.get_error_message(), HasSubstr("serves at most 1 clients"));
    EXPECT_EQ(client().simple(T::DISCONNECT, first).get_type(), T::DISCONNECTED);
    library_client.disconnect();
    EXPECT_EQ(library_client.connect(), tamsu::Result::success);
}

// The largest block is taken; a larger message gets its sender disconnected, and no answer.
TEST_F(ServerTest, MessagesLargerThanTheLargestBlockNeverReachTheHandlers)
{
    using reference_server::k_max_block_samples;
    const auto id = connect_with("toy_flipflop_fast");
    EXPECT_EQ(client().exchange(raw_block(id, T::PASS_FIRST_RAW_BLOCK, 1, 0, 2,
                                          2 * k_max_block_samples,
                                          make_samples(k_max_block_samples, 1),
                                          std::string(1000, 'r')))
                      .get_type(),
              T::RAW_BLOCK_ACCEPTED);
    zmq::context_t context;
    zmq::socket_t sender(context, zmq::socket_type::req);
    sender.set(zmq::sockopt::linger, 0);
    ASSERT_EQ(zmq_socket_monitor(sender.handle(), "inproc://sender", ZMQ_EVENT_DISCONNECTED), 0);
    zmq::socket_t events(context, zmq::socket_type::pair);
    events.connect("inproc://sender");
    sender.connect(server().endpoint());
    const auto samples = reference_server::k_max_message_bytes / sizeof(std::int16_t) + 1;
    sender.send(raw_block(id, T::PASS_FIRST_RAW_BLOCK, 2, 0, 1, samples, make_samples(samples, 2),
                          "big"),
                zmq::send_flags::none);
    zmq::pollitem_t items[] = {{events.handle(), 0, ZMQ_POLLIN, 0}};
    ASSERT_EQ(zmq::poll(items, 1, std::chrono::seconds(20)), 1) << "the sender stayed connected";
    EXPECT_EQ(client().simple(T::HEARTBEAT_PING, id).get_type(), T::HEARTBEAT_ECHO);
}

// The called read comes back in the raw read's blocks, block i holding the events of raw block
// i, and is forgotten once its last block went out; that every configuration's values are the
// toy caller's is checked end to end in basecall_client_test.
TEST_F(ServerTest, MultiBlockReadsComeBackInTheSameBlocksAsPredicted)
{
    const auto& config = *reference_server::find_config("toy_modbase");
    const auto id = connect_with(config.name);
    const auto samples = make_samples(3100, 7);
    const std::vector<std::uint32_t> blocks = {1200, 1200, 700};
    EXPECT_THAT(send_read(client(), id, 7, samples, {1200, 1200, 700}, "r"),
                testing::Each(T::RAW_BLOCK_ACCEPTED));
    const auto read = fetch_read(client(), id);
    const auto predicted = ToyCaller::call(samples, 10.0f, 0.5f, config, {});
    const auto ranges = ToyCaller::block_ranges(predicted, blocks);
    ASSERT_EQ(read.blocks.size(), blocks.size());
    EXPECT_EQ(read.called(0).total_events(), predicted.total_events);
    std::string sequence;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(read.block(i).block_index(), i);
        EXPECT_EQ(read.block(i).read_tag(), 7u);
        EXPECT_EQ(read.called(i).block_events(), ranges[i].event_end - ranges[i].event_begin);
        sequence += read.called(i).sequence()->str();
    }
    EXPECT_EQ(sequence, predicted.sequence);
    EXPECT_EQ(client().simple(T::GET_FIRST_CALLED_BLOCK, id).get_type(), T::NONE_PENDING);
    EXPECT_EQ(client().simple(T::GET_NEXT_CALLED_BLOCK, id, 7).get_type(), T::BAD_REQUEST);
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

    bool wait_for_called(std::uint64_t count)
    {
        return eventually([&] { return server().counters().reads_called >= count; });
    }

    // Reads in flight on the server for the only connected client.
    std::uint32_t reads_in_flight()
    {
        const auto reply = client().simple(T::GET_STATISTICS);
        const auto* stats = reply.get_message_data()->content_as_ServerStats();
        return stats != nullptr && stats->clients()->size() == 1
                       ? stats->clients()->Get(0)->value_0()
                       : 0xffffffffu;
    }

    std::vector<std::string> recorded() const
    {
        std::ifstream file(m_dir.file("lost.tsv"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);) {
            lines.push_back(line);
        }
        return lines;
    }

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
    ASSERT_EQ(client().exchange(raw_block(id, T::PASS_FIRST_RAW_BLOCK, 4, 0, 2, 1000, first,
                                          "arriving"))
                      .get_type(),
              T::RAW_BLOCK_ACCEPTED);
    EXPECT_EQ(reads_in_flight(), 3u);

    EXPECT_EQ(reply_value(client().simple(T::GET_FIRST_CALLED_BLOCK, id)), 1u);
    EXPECT_THAT(recorded(), testing::UnorderedElementsAre("reported\t" + id + "\tdropped",
                                                          "reported\t" + id + "\theld",
                                                          "reported\t" + id + "\tbusy"));
    EXPECT_EQ(reads_in_flight(), 1u);
    // Any later request on the connection shows the report arrived.
    EXPECT_EQ(client().simple(T::HEARTBEAT_PING, id).get_type(), T::HEARTBEAT_ECHO);
    EXPECT_EQ(recorded().back(), "acknowledged\t" + id);
    // A read dropped while it was being called stays dropped when the call ends.
    ASSERT_TRUE(wait_for_called(3));
    EXPECT_EQ(reads_in_flight(), 1u);

    server().set_faults(FaultSettings());
    EXPECT_EQ(client().exchange(raw_block(id, T::PASS_NEXT_RAW_BLOCK, 4, 1, 2, 1000, second,
                                          "arriving"))
                      .get_type(),
              T::RAW_BLOCK_ACCEPTED);
    const auto read = fetch_read(client(), id);
    ASSERT_EQ(read.blocks.size(), 2u);
    EXPECT_EQ(read.block(0).read_id()->str(), "arriving");
    EXPECT_EQ(reply_value(client().simple(T::GET_FIRST_CALLED_BLOCK, id)), 0u);
    EXPECT_EQ(recorded().size(), 4u);
}

TEST_F(LostReadsTest, ReadsOfAForgottenClientAreNeitherReturnedNorReported)
{
    server().forget_all_clients();
    EXPECT_EQ(client().simple(T::GET_FIRST_CALLED_BLOCK, m_id).get_type(),
              T::CLIENT_NOT_RECOGNISED);
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
    EXPECT_EQ(send_read(client(), id, 1, samples, {600}, "one")[0], T::RAW_BLOCK_ACCEPTED);
    EXPECT_EQ(send_read(client(), id, 2, samples, {600, 600}, "two")[0], T::NOT_READY);
    EXPECT_EQ(fetch_read(client(), id).blocks.size(), 1u);
    EXPECT_THAT(send_read(client(), id, 2, samples, {600, 600}, "two"),
                testing::Each(T::RAW_BLOCK_ACCEPTED));
}

TEST_F(ServerTest, SilenceLeavesRequestsUnanswered)
{
    const auto unanswered = [this] {
        TestClient own(server().endpoint());
        return own.simple(T::GET_STATE, "", 0, "", std::chrono::milliseconds(300)).get_type() ==
               T::UNSET;
    };
    FaultSettings faults;
    faults.silent_requests = 1;
    server().set_faults(faults);
    EXPECT_TRUE(unanswered());
    // Only that one request goes unanswered.
    EXPECT_TRUE(eventually([&] { return server().faults().silent_requests == 0; }));
    EXPECT_EQ(client().simple(T::GET_STATE).get_type(), T::RETURN_STATE);

    faults.silent = true;
    server().set_faults(faults);
    EXPECT_TRUE(unanswered());
    server().set_faults(FaultSettings{});
    EXPECT_FALSE(unanswered());
}

// Counters, the state report's keys, and the dual and lamp kits named at connect on a read
// (how a barcode is assigned is checked in reference_data_test, the connection's own keys in
// connection_protocol_test).
TEST_F(ServerTest, StatisticsStateAndBarcodesDescribeWhatWasCalled)
{
    const auto id = connect_with("toy_modbase", connection_string("toy_modbase", "TOY-DUAL", {}, {},
                                                                  ">lamp_kit=TOY-LAMP"));
    const auto samples = make_samples(3000, 42);
    send_read(client(), id, 8, samples, {1500, 1500}, "barcoded-read");
    const auto read = fetch_read(client(), id);
    ASSERT_EQ(read.blocks.size(), 2u);
    const auto* barcoding = read.called(0).barcoding();
    ASSERT_TRUE(barcoding && barcoding->lamp());
    EXPECT_EQ(barcoding->full_arrangement()->str(), "TOY-DUAL_" + barcoding->arrangement()->str());
    EXPECT_THAT(barcoding->arrangement()->str(), HasSubstr("_internal"));
    EXPECT_THAT(barcoding->lamp()->barcode_id()->str(), testing::StartsWith("FIP"));
    EXPECT_EQ(read.called(1).barcoding(), nullptr);

    const auto predicted = ToyCaller::call(samples, 10.0f, 0.5f,
                                           *reference_server::find_config("toy_modbase"), {});
    auto reply = client().simple(T::GET_STATISTICS);
    const auto* stats = reply.get_message_data()->content_as_ServerStats();
    ASSERT_TRUE(stats != nullptr && stats->clients()->size() == 1);
    EXPECT_EQ(std::vector<std::uint64_t>({stats->stat_0(), stats->stat_1(), stats->stat_2(),
                                          stats->stat_3(), stats->clients()->Get(0)->value_0(),
                                          stats->clients()->Get(0)->value_1()}),
              std::vector<std::uint64_t>({1, 1, samples.size(), predicted.sequence.size(), 0, 1}));

    const auto state_text = reply_text(client().simple(T::GET_STATE));
    rapidjson::Document state;
    ASSERT_FALSE(state.Parse(state_text.c_str()).HasParseError());
    // Whoever may ask must not learn an id to act as the client with.
    EXPECT_THAT(state_text, testing::Not(HasSubstr(id)));
    EXPECT_EQ(state["ServerInformation"]["endpoint"].GetString(), server().endpoint());
    EXPECT_EQ(state["ServerInformation"]["connected_clients"].GetUint(), 1u);
    EXPECT_EQ(state["Clients"][0]["timeout_interval"].GetUint(), 15000u);
}

// Called on the spot, with no wait for workers.
TEST_F(ServerTest, ZeroWorkReturnsEmptyReadsInTheirBlocks)
{
    FaultSettings faults;
    faults.zero_work = true;
    server().set_faults(faults);
    const auto id = connect_with("toy_runlength");
    send_read(client(), id, 6, make_samples(4000, 6), {2000, 2000}, "quick");
    const auto first = client().simple(T::GET_FIRST_CALLED_BLOCK, id);
    ASSERT_EQ(first.get_type(), T::RETURN_FIRST_CALLED_BLOCK);
    const auto* block = first.get_message_data()->content_as_ReadBlockData();
    EXPECT_EQ(block->called_block()->total_events() + block->called_block()->sequence()->size(),
              0u);
    EXPECT_EQ(client().simple(T::GET_NEXT_CALLED_BLOCK, id, 6).get_type(),
              T::RETURN_NEXT_CALLED_BLOCK);
}

}  // namespace
