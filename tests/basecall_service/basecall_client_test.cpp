#include "basecall_service/basecall_client.h"

#include "common/diagnostics/state/concrete_state_logger.h"
#include "common/diagnostics/state/state_formatter.h"
#include "server/basecall_server.h"
#include "server/toy_caller.h"
#include "support/read_factory.h"
#include "support/server_process.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>
#include <tuple>

namespace basecall_service {
namespace {

using interfaces::dataset;
using namespace tamsu_test;
using ReadList = std::list<std::unique_ptr<interfaces::ReadHolder>>;
using Samples = std::map<std::uint64_t, std::vector<std::int16_t>>;
using namespace std::chrono_literals;
namespace state = common::diagnostics::state;

struct EngineOptions {
    std::string config = "toy_flipflop_fast";
    unsigned long block_size = 50000;
    unsigned long max_reads_queued = 100;
    reference_server::CallFlags flags{};
    unsigned int request_timeout = 5000;
    std::chrono::seconds reconnect_timeout{300};
    void (*callback)() = nullptr;
};

std::unique_ptr<BasecallClient> connected_engine(const std::string& address,
                                                 const EngineOptions& options = {})
{
    auto engine = std::make_unique<BasecallClient>(options.block_size, options.max_reads_queued,
                                                   !options.flags.events, options.flags.state_data,
                                                   options.callback);
    engine->set_reconnect_timeout(options.reconnect_timeout);
    ipc_tools::ConnectionInfo info;
    info.m_config_name = options.config;
    info.m_client_name = "engine-test";
    engine->connect(address, options.request_timeout, 10, info);
    return engine;
}

// Passes one read per length, tagged 1, 2, ..., and returns the samples sent under each tag.
Samples pass_reads(BasecallClient& engine, const std::vector<std::size_t>& lengths)
{
    Samples sent;
    for (const auto length : lengths) {
        const std::uint64_t tag = sent.size() + 1;
        sent[tag] = make_samples(length, static_cast<std::uint32_t>(tag));
        auto read = make_read(tag, sent[tag], 5);
        EXPECT_EQ(engine.pass_read(read, 5000), PassReadResult::success);
    }
    return sent;
}

// Collects reads until `count` have come back or a generous deadline passes.
ReadList collect(BasecallClient& engine, std::size_t count)
{
    ReadList reads;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (reads.size() < count && std::chrono::steady_clock::now() < end) {
        engine.get_completed_reads(reads);
        std::this_thread::sleep_for(2ms);
    }
    return reads;
}

// Every read must come back once, exactly as the toy caller computes it from its samples.
void expect_all_called(const ReadList& reads, const Samples& sent, const EngineOptions& options)
{
    EXPECT_EQ(reads.size(), sent.size());
    std::set<std::uint64_t> tags;
    const auto& definition = *reference_server::find_config(options.config);
    for (const auto& entry : reads) {
        const auto& read = *entry;
        SCOPED_TRACE(read.get_read_tag());
        tags.insert(read.get_read_tag());
        const auto& samples = sent.at(read.get_read_tag());
        const auto expected = reference_server::ToyCaller::call(
                samples, k_daq_offset, k_daq_scaling, definition, options.flags);
        EXPECT_EQ(dataset_text(read, dataset::sequence), expected.sequence);
        EXPECT_EQ(dataset_text(read, dataset::qstring), expected.qstring);
        EXPECT_EQ(dataset_values<std::uint8_t>(read, dataset::moves), expected.moves);
        EXPECT_EQ(dataset_values<std::uint8_t>(read, dataset::trace), expected.trace);
        EXPECT_EQ(dataset_values<std::uint8_t>(read, dataset::run_lengths), expected.runs);
        EXPECT_EQ(dataset_values<float>(read, dataset::run_values_0), expected.run_values_0);
        EXPECT_EQ(dataset_values<float>(read, dataset::run_values_1), expected.run_values_1);
        EXPECT_EQ(dataset_values<float>(read, dataset::run_values_2), expected.run_values_2);
        EXPECT_EQ(dataset_values<std::uint32_t>(read, dataset::run_values_3),
                  expected.run_values_3);
        EXPECT_EQ(dataset_values<std::uint32_t>(read, dataset::run_values_4),
                  expected.run_values_4);
        EXPECT_EQ(dataset_values<std::uint8_t>(read, dataset::base_mod_probs),
                  expected.mod_probabilities);
        EXPECT_EQ(dataset_values<float>(read, dataset::state_data), expected.state_data);

        // Keys the engine derives or a host reads; the rest are copied from the reply as they are.
        const auto& metadata = read.get_metadata();
        const auto count = [&](const char* key) { return metadata.get_value<unsigned long>(key); };
        const unsigned long duration = samples.size();
        EXPECT_EQ(count("num_events"), duration / definition.model_stride);
        EXPECT_EQ(count("trimmed_duration"), duration - expected.trimmed_samples);
        EXPECT_EQ(count("sequence_length"), expected.sequence.size());
        EXPECT_EQ(count("rle_count"), expected.runs.size());
        EXPECT_FLOAT_EQ(metadata.get_value<float>("mean_qscore"), expected.mean_qscore);
        EXPECT_EQ(metadata.get_value<std::string>("base_mod_alphabet"), expected.mod_alphabet);
        EXPECT_EQ(metadata.get_value<std::string>("base_mod_long_names"), expected.mod_long_names);
    }
    EXPECT_EQ(tags.size(), sent.size());
}

class BasecallClientTest : public ::testing::Test {
protected:
    std::string address() const { return m_server.endpoint().substr(6); }
    reference_server::BasecallServer m_server{reference_server::ServerOptions()};
};

// Finish must wait: the server holds every read back for a while.
TEST_F(BasecallClientTest, ReadsOfOneAndManyBlocksComeBackAsCalledInEveryConfigurationByFinish)
{
    auto faults = m_server.faults();
    faults.call_delay = 300ms;
    m_server.set_faults(faults);
    // Stride 5 and block size 100: 500 samples per block.
    const std::vector<std::pair<EngineOptions, std::vector<std::size_t>>> cases{
            {{"toy_flipflop_fast", 100}, {120, 499, 500, 501, 1500, 1501}},
            {{"toy_runlength", 64}, {5000}},
            {{"toy_modbase", 64}, {5000}},
            {{"toy_flipflop_fast", 100, 100, {false, true}}, {2600}}};
    for (const auto& [options, lengths] : cases) {
        SCOPED_TRACE(options.config);
        const auto engine = connected_engine(address(), options);
        const auto sent = pass_reads(*engine, lengths);

        EXPECT_TRUE(engine->finish_by(0));

        ReadList reads;
        engine->get_completed_reads(reads);
        expect_all_called(reads, sent, options);
        auto late = make_read(99, make_samples(3000, 2), 5);
        EXPECT_EQ(engine->pass_read(late, 100), PassReadResult::not_accepting_reads);
    }
}

TEST_F(BasecallClientTest, ManyHostThreadsGetEveryReadBackExactlyOnce)
{
    const EngineOptions options{"toy_flipflop_fast", 200, 8};
    const auto engine = connected_engine(address(), options);
    Samples sent;
    for (std::uint64_t tag = 1; tag <= 40; ++tag) {
        sent[tag] = make_samples(800 + 37 * tag, static_cast<std::uint32_t>(tag));
    }
    std::vector<std::thread> hosts;
    for (std::uint64_t first = 1; first <= 4; ++first) {
        hosts.emplace_back([&, first] {
            for (auto tag = first; tag <= sent.size(); tag += 4) {
                auto read = make_read(tag, sent.at(tag), 5);
                while (engine->pass_read(read, 100) == PassReadResult::queue_full) {
                }
            }
        });
    }
    for (auto& host : hosts) {
        host.join();
    }

    expect_all_called(collect(*engine, sent.size()), sent, options);
    EXPECT_TRUE(engine->finish_by(10));
}

TEST_F(BasecallClientTest, FinishGivesUpOnASilentServer)
{
    const auto abandoned = connected_engine(address(), {"toy_flipflop_fast", 50000, 100, {}, 200});
    auto faults = m_server.faults();
    faults.silent = true;
    m_server.set_faults(faults);
    pass_reads(*abandoned, {3000});

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(abandoned->finish_by(1));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
}

TEST(BasecallClientReconnectTest, KilledServerIsReconnectedAndInFlightReadsResent)
{
    TempDirectory dir;
    const auto endpoint = "ipc://" + dir.file("server.sock");
    auto server = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--call-delay", "400", endpoint});
    ASSERT_EQ(server->wait_for_endpoint(), endpoint);
    const EngineOptions options{"toy_flipflop_fast", 50000, 100, {}, 200};
    const auto engine = connected_engine(endpoint, options);
    const auto sent = pass_reads(*engine, std::vector<std::size_t>(20, 2000));

    server->stop(SIGKILL);
    server = std::make_unique<ServerProcess>(std::vector<std::string>{endpoint});
    ASSERT_EQ(server->wait_for_endpoint(), endpoint);

    expect_all_called(collect(*engine, sent.size()), sent, options);
    EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
}

std::atomic<int> g_callback_calls{0};
char g_callback_thread[32] = {};

void record_callback()
{
    ++g_callback_calls;
    pthread_getname_np(pthread_self(), g_callback_thread, sizeof(g_callback_thread));
}

TEST_F(BasecallClientTest, OnlyTimeOutsAreRetriedAndOnlyUntilTheReconnectDeadline)
{
    TempDirectory dir;
    const auto absent = "ipc://" + dir.file("nobody.sock");
    // An absent server times out; a refused configuration is final.
    const std::vector<std::tuple<std::string, const char*, std::chrono::seconds>> cases{
            {absent, "toy_flipflop_fast", 0s},
            {absent, "toy_flipflop_fast", 1s},
            {address(), "no_such_config", 300s}};
    for (const auto& [where, config, reconnect_timeout] : cases) {
        SCOPED_TRACE(config + std::to_string(reconnect_timeout.count()));
        const EngineOptions options{config, 50000, 100, {}, 50, reconnect_timeout, record_callback};
        g_callback_calls = 0;

        const auto start = std::chrono::steady_clock::now();
        const auto engine = connected_engine(where, options);
        EXPECT_GE(std::chrono::steady_clock::now() - start, reconnect_timeout == 1s ? 1s : 0s);
        EXPECT_EQ(engine->get_connection_state().get_error_state().code,
                  where == absent ? ConnectionError::timed_out
                                  : ConnectionError::basecall_config_unavailable);
        EXPECT_EQ(g_callback_calls.load(), 1);
        EXPECT_STREQ(g_callback_thread, "client_worker");
        std::vector<state::StateRecord> records;
        state::detail::ConcreteStateLogger logger(records);
        engine->report_state(logger);
        EXPECT_EQ(state::IndentationFormatter()(records),
                  "\nm_client_connection_state: error\nm_accept_data: false\nReadBuffer"
                  "\n    m_queued_reads (awaiting pushing to server): 0"
                  "\n    m_message_queue_in (awaiting sending to server): 0"
                  "\n    m_submitted_reads (pushed to server not yet pulled): 0"
                  "\n    m_reads_out (output queue of reads from server): 0"
                  "\n    m_max_input_queue_size: 100\n    m_block_size : 50000"
                  "\n    m_connection_id : \n");
    }
}

}  // namespace
}  // namespace basecall_service
