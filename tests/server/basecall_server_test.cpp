#include "client/tamsu_client.h"
#include "server/basecall_server.h"
#include "server/catalogue.h"
#include "server/curve_key_files.h"
#include "server/toy_caller.h"
#include "server_test_client.h"
#include "support/temp_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <fstream>
#include <tuple>

namespace {

using namespace server_test;
using reference_server::BasecallServer;
using reference_server::FaultSettings;
using reference_server::ServerOptions;
using reference_server::ToyCaller;
using testing::Each;
using testing::HasSubstr;
using T = MessageType;

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

    T ask(T type, const std::string& id = {}, std::uint32_t value = 0, const std::string& text = {})
    {
        return client().simple(type, id, value, text).get_type();
    }

    std::string file(const std::string& name, const std::string& content)
    {
        std::ofstream(m_dir.file(name)) << content;
        return m_dir.file(name);
    }

    // Loads the configuration and connects with it (and `text`, when given).
    std::string connect_with(const std::string& config, const std::string& text = {})
    {
        EXPECT_EQ(ask(T::LOAD_CONFIG, "", 0, config), T::SUCCESS);
        auto reply =
                client().simple(T::CONNECT, "", 0, text.empty() ? connection_string(config) : text);
        EXPECT_EQ(reply.get_type(), T::CONNECTED) << reply_text(reply);
        return reply.get_type() == T::CONNECTED ? reply_text(reply) : std::string();
    }

    // Four server counters, then the only client's reads in flight (at 4) and returned.
    std::vector<std::uint64_t> statistics()
    {
        const auto reply = client().simple(T::GET_STATISTICS);
        const auto* stats = reply.get_message_data()->content_as_ServerStats();
        if (stats == nullptr || stats->clients()->size() != 1) {
            return {};
        }
        const auto* only = stats->clients()->Get(0);
        return {stats->stat_0(), stats->stat_1(), stats->stat_2(),
                stats->stat_3(), only->value_0(), only->value_1()};
    }

    tamsu_test::TempDirectory m_dir;
    std::unique_ptr<BasecallServer> m_server;
    std::unique_ptr<TestClient> m_client;
};

// Each request the server turns down, with its reply type and, where it gives one, the reason.
TEST_F(ServerTest, EachRefusalHasItsReplyAndReason)
{
    const auto fasta = file("ref.fa", ">chr1 first\nACGT\nAC\n>chr2\nGGGG\n");
    const auto empty_fasta = file("empty.fa", "");
    FaultSettings faults;
    faults.refused_configs = {"toy_modbase"};
    server().set_faults(faults);
    const std::string config = "toy_flipflop_fast";
    const auto id = connect_with(config);
    ASSERT_EQ(ask(T::LOAD_INDEX, "", 0, empty_fasta), T::SUCCESS);
    // Request, its text, then the reply and a part of its reason.
    std::vector<std::tuple<T, std::string, T, std::string>> cases = {
            {T::LOAD_CONFIG, "no_such_config", T::REQUEST_FAILED, "no_such_config"},
            {T::LOAD_CONFIG, "toy_modbase", T::REQUEST_FAILED, "refused"},
            {T::LOAD_INDEX, m_dir.file("missing.fa"), T::REQUEST_FAILED, "missing.fa"},
            {T::LOAD_BED, file("bad.bed", "chr1\t5\n"), T::REQUEST_FAILED, "line 1"},
            {T::CONNECT, connection_string("toy_runlength"), T::INVALID_CONFIG, ""},
            {T::CONNECT, "toy:>nonsense:", T::BAD_REQUEST, ""},
            {T::CONNECT, "toy:>client_name=x:::", T::BAD_REQUEST, ""},
            {T::CONNECT, connection_string(config, "TOY-BC12 NO-SUCH-KIT"), T::INVALID_BARCODE_KIT,
             ""},
            {T::CONNECT, connection_string(config, {}, fasta), T::INVALID_INDEX, ""},
            {T::CONNECT, connection_string(config, {}, empty_fasta), T::INDEX_NO_SEQ, ""},
            // A BED file needs its index loaded.
            {T::LOAD_INDEX, fasta, T::SUCCESS, ""},
            {T::CONNECT, connection_string(config, {}, fasta, file("a.bed", "chr1\t0\t3\n")),
             T::INVALID_BED, ""},
    };
    // Replies, and requests that need a client named without one, are no requests.
    for (const auto type :
         {T::SUCCESS, T::CONNECTED, T::TERMINATE, T::HEARTBEAT_ECHO, T::HEARTBEAT_PING}) {
        cases.emplace_back(type, "", T::BAD_REQUEST, "");
    }
    for (const auto& [type, text, expected, reason] : cases) {
        SCOPED_TRACE(ipc_tools::message_type_as_string(type) + " " + text);
        const auto reply = client().simple(type, "", 0, text);
        EXPECT_EQ(reply.get_type(), expected);
        EXPECT_THAT(reply_text(reply), HasSubstr(reason));
        EXPECT_TRUE(expected != T::BAD_REQUEST || !reply_text(reply).empty());
    }
    EXPECT_EQ(ask(T::GET_NEXT_CALLED_BLOCK, id, 77), T::BAD_REQUEST);

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

    // Unreadable bytes (which messages are unreadable is message_test's): noise, nothing.
    EXPECT_EQ(client().exchange(zmq::message_t(std::string("not a flatbuffer"))).get_type(),
              T::BAD_REQUEST);
    EXPECT_EQ(client().exchange(zmq::message_t()).get_type(), T::BAD_REQUEST);

    // The largest block is taken; a larger message gets its sender disconnected, and no answer.
    using reference_server::k_max_block_samples;
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
    const auto too_many = reference_server::k_max_message_bytes / sizeof(std::int16_t) + 1;
    sender.send(raw_block(id, T::PASS_FIRST_RAW_BLOCK, 2, 0, 1, too_many, make_samples(too_many, 2),
                          "big"),
                zmq::send_flags::none);
    zmq::pollitem_t items[] = {{events.handle(), 0, ZMQ_POLLIN, 0}};
    ASSERT_EQ(zmq::poll(items, 1, std::chrono::seconds(20)), 1) << "the sender stayed connected";
    EXPECT_EQ(ask(T::HEARTBEAT_PING, id), T::HEARTBEAT_ECHO);

    // A disconnected client is gone.
    EXPECT_EQ(ask(T::DISCONNECT, id), T::DISCONNECTED);
    EXPECT_EQ(ask(T::HEARTBEAT_PING, id), T::CLIENT_NOT_RECOGNISED);
}

// Load delay, in-flight limit (first blocks only) and zero work each shape the replies.
TEST_F(ServerTest, LoadDelayInFlightLimitAndZeroWorkShapeTheReplies)
{
    FaultSettings faults;
    faults.load_delay = std::chrono::milliseconds(200);
    server().set_faults(faults);
    for (const auto& [type, name] : std::vector<std::pair<T, std::string>>{
                 {T::LOAD_CONFIG, "toy_modbase"},
                 {T::LOAD_INDEX, file("ref.fa", ">chr1\nACGTACGT\n")},
                 {T::LOAD_BED, file("ref.bed", "chr1\t0\t4\n")}}) {
        EXPECT_EQ(ask(type, "", 0, name), T::LOADING);
        EXPECT_TRUE(eventually([&, type = type] { return ask(type, "", 0, name) != T::LOADING; }));
        EXPECT_EQ(ask(type, "", 0, name), T::SUCCESS) << name;
    }

    faults = FaultSettings();
    faults.max_reads_in_flight = 1;
    server().set_faults(faults);
    const auto id = connect_with("toy_modbase");
    const auto samples = make_samples(1200, 3);
    EXPECT_EQ(send_read(client(), id, 1, samples, {600}, "one")[0], T::RAW_BLOCK_ACCEPTED);
    EXPECT_EQ(send_read(client(), id, 2, samples, {600, 600}, "two")[0], T::NOT_READY);
    EXPECT_EQ(fetch_read(client(), id).blocks.size(), 1u);
    EXPECT_THAT(send_read(client(), id, 2, samples, {600, 600}, "two"),
                Each(T::RAW_BLOCK_ACCEPTED));
    EXPECT_EQ(fetch_read(client(), id).blocks.size(), 2u);

    faults.zero_work = true;
    server().set_faults(faults);
    send_read(client(), id, 6, samples, {600, 600}, "quick");
    const auto quick = client().simple(T::GET_FIRST_CALLED_BLOCK, id);
    ASSERT_EQ(quick.get_type(), T::RETURN_FIRST_CALLED_BLOCK);
    const auto* called = quick.get_message_data()->content_as_ReadBlockData()->called_block();
    EXPECT_EQ(called->total_events() + called->sequence()->size(), 0u);
    EXPECT_EQ(ask(T::GET_NEXT_CALLED_BLOCK, id, 6), T::RETURN_NEXT_CALLED_BLOCK);
}

// Another admitted client that learns a connection id cannot act as that client.
TEST(CurveServerTest, ConnectionIdsAnswerOnlyTheKeyThatConnected)
{
    namespace key_files = reference_server::curve_key_files;
    tamsu_test::TempDirectory directory;
    const auto server_keys = key_files::generate(directory.file("server"));
    const auto alice_keys = key_files::generate(directory.file("alice"));
    const auto mallory_keys = key_files::generate(directory.file("mallory"));
    ServerOptions options;
    options.curve = {server_keys.secret_key, {alice_keys.public_key, mallory_keys.public_key}};
    BasecallServer server(options);
    TestClient alice(server.endpoint(),
                     {server_keys.public_key, alice_keys.public_key, alice_keys.secret_key});
    TestClient mallory(server.endpoint(),
                       {server_keys.public_key, mallory_keys.public_key, mallory_keys.secret_key});
    ASSERT_EQ(alice.simple(T::LOAD_CONFIG, "", 0, "toy_flipflop_fast").get_type(), T::SUCCESS);
    const auto id =
            reply_text(alice.simple(T::CONNECT, "", 0, connection_string("toy_flipflop_fast")));
    for (const auto type :
         {T::HEARTBEAT_PING, T::GET_FIRST_CALLED_BLOCK, T::GET_NEXT_CALLED_BLOCK, T::DISCONNECT}) {
        EXPECT_EQ(mallory.simple(type, id).get_type(), T::CLIENT_NOT_RECOGNISED)
                << ipc_tools::message_type_as_string(type);
    }
    EXPECT_EQ(alice.simple(T::HEARTBEAT_PING, id).get_type(), T::HEARTBEAT_ECHO);
}

// A quiet client is forgotten after its time-out; a CONNECT beyond the limit says why it fails.
TEST_F(ServerTest, QuietClientsAreForgottenAndConnectsBeyondTheLimitRefused)
{
    ServerOptions options;
    options.max_clients = 1;
    start(options);
    auto text = connection_string("toy_flipflop_fast");
    text.replace(text.find("=15000"), 6, "=100");
    const auto quiet = connect_with("toy_flipflop_fast", text);
    EXPECT_TRUE(eventually([&] { return server().client_count() == 0; }));
    EXPECT_EQ(ask(T::HEARTBEAT_PING, quiet), T::CLIENT_NOT_RECOGNISED);

    const auto first = connect_with("toy_flipflop_fast");
    const auto refused = client().simple(T::CONNECT, "", 0, connection_string("toy_flipflop_fast"));
    EXPECT_EQ(refused.get_type(), T::BAD_REQUEST);
    EXPECT_THAT(reply_text(refused), HasSubstr("serves at most 1 clients"));
    // The library gives up at once (a refusal it retried would time out instead) and says why.
    tamsu::TamsuClient library_client(server().endpoint().substr(6), "toy_flipflop_fast");
    library_client.set_reconnect_timeout(30);
    EXPECT_NE(library_client.connect(), tamsu::Result::success);
    EXPECT_THAT(library_client.get_error_message(), HasSubstr("serves at most 1 clients"));
    EXPECT_EQ(ask(T::DISCONNECT, first), T::DISCONNECTED);
    library_client.disconnect();
    EXPECT_EQ(library_client.connect(), tamsu::Result::success);
}

// Block i of the called read holds raw block i's events; once sent, the read is only counted.
TEST_F(ServerTest, CalledReadComesBackInItsRawBlocksAndIsCountedAndReported)
{
    const auto& config = *reference_server::find_config("toy_modbase");
    const auto id = connect_with(
            config.name, connection_string(config.name, "TOY-DUAL", {}, {}, ">lamp_kit=TOY-LAMP"));
    const auto samples = make_samples(3100, 7);
    const std::vector<std::uint32_t> blocks = {1200, 1200, 700};
    EXPECT_THAT(send_read(client(), id, 7, samples, {1200, 1200, 700}, "r"),
                Each(T::RAW_BLOCK_ACCEPTED));
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
    const auto* barcoding = read.called(0).barcoding();
    ASSERT_TRUE(barcoding && barcoding->lamp() && !read.called(1).barcoding());
    EXPECT_EQ(barcoding->full_arrangement()->str(), "TOY-DUAL_" + barcoding->arrangement()->str());
    EXPECT_THAT(barcoding->arrangement()->str(),
                testing::MatchesRegex("barcode_external0[1-8]_internal(0[1-9]|1[0-2])"));
    EXPECT_THAT(barcoding->lamp()->barcode_id()->str(), testing::StartsWith("FIP"));
    EXPECT_EQ(ask(T::GET_FIRST_CALLED_BLOCK, id), T::NONE_PENDING);
    EXPECT_EQ(ask(T::GET_NEXT_CALLED_BLOCK, id, 7), T::BAD_REQUEST);

    EXPECT_EQ(statistics(),
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

// One worker and a client whose read "dropped" was lost but not yet reported.
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
    // Called, or still being called, when the loss is reported: the client drops them all.
    m_faults.lose_reads = false;
    m_faults.call_delay = std::chrono::hours(1);
    server().set_faults(m_faults);
    send_read(client(), id, 2, make_samples(500, 2), {500}, "held");
    ASSERT_TRUE(wait_for_called(2));
    m_faults.call_time = std::chrono::milliseconds(500);
    server().set_faults(m_faults);
    send_read(client(), id, 3, make_samples(500, 3), {500}, "busy");
    // Still arriving: the client keeps it.
    const auto arriving = [&](T type, std::uint32_t index) {
        return client().exchange(
                raw_block(id, type, 4, index, 2, 1000, make_samples(500, index), "arriving"));
    };
    ASSERT_EQ(arriving(T::PASS_FIRST_RAW_BLOCK, 0).get_type(), T::RAW_BLOCK_ACCEPTED);
    EXPECT_EQ(statistics().at(4), 3u);

    EXPECT_EQ(reply_value(client().simple(T::GET_FIRST_CALLED_BLOCK, id)), 1u);
    EXPECT_THAT(recorded(), testing::UnorderedElementsAre("reported\t" + id + "\tdropped",
                                                          "reported\t" + id + "\theld",
                                                          "reported\t" + id + "\tbusy"));
    EXPECT_EQ(statistics().at(4), 1u);
    // Any later request on the connection shows the report arrived.
    EXPECT_EQ(client().simple(T::HEARTBEAT_PING, id).get_type(), T::HEARTBEAT_ECHO);
    EXPECT_EQ(recorded().back(), "acknowledged\t" + id);
    // A read dropped while it was being called stays dropped when the call ends.
    ASSERT_TRUE(wait_for_called(3));
    EXPECT_EQ(statistics().at(4), 1u);

    server().set_faults(FaultSettings());
    EXPECT_EQ(arriving(T::PASS_NEXT_RAW_BLOCK, 1).get_type(), T::RAW_BLOCK_ACCEPTED);
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

}  // namespace
