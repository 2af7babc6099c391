#include "basecall_service/basecall_client.h"

#include "common/diagnostics/state/concrete_state_logger.h"
#include "interfaces/read_alignment_helper.h"
#include "server/basecall_server.h"
#include "server/toy_caller.h"
#include "support/read_factory.h"
#include "support/server_process.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace basecall_service {
namespace {

using interfaces::dataset;
using interfaces::ReadHolder;
using reference_server::BasecallServer;
using tamsu_test::dataset_text;
using tamsu_test::dataset_values;
using tamsu_test::make_read;
using tamsu_test::make_samples;
using ReadList = std::list<std::unique_ptr<ReadHolder>>;
using namespace std::chrono_literals;

struct EngineOptions {
    std::string config = "toy_flipflop_fast";
    unsigned long block_size = 50000;
    unsigned long max_reads_queued = 100;
    bool disable_events = false;
    bool pull_state_data = false;
    std::chrono::seconds reconnect_timeout{300};
    unsigned int request_timeout = 5000;
    std::string barcode_kits;
    std::string alignment_index;
    std::string bed_file;
};

std::unique_ptr<BasecallClient> connected_engine(const std::string& address,
                                                 const EngineOptions& options = {})
{
    auto engine = std::make_unique<BasecallClient>(options.block_size, options.max_reads_queued,
                                                   options.disable_events, options.pull_state_data,
                                                   nullptr);
    engine->set_reconnect_timeout(options.reconnect_timeout);
    ipc_tools::ConnectionInfo info;
    info.m_config_name = options.config;
    info.m_client_name = "engine-test";
    info.m_barcode_kits = options.barcode_kits;
    info.m_alignment_index = options.alignment_index;
    info.m_bed_file = options.bed_file;
    engine->connect(address, options.request_timeout, 10, info);
    return engine;
}

// Collects reads until `count` have come back or a generous deadline passes.
ReadList collect(BasecallClient& engine, std::size_t count,
                 std::chrono::seconds deadline = std::chrono::seconds(60))
{
    ReadList reads;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (reads.size() < count && std::chrono::steady_clock::now() < end) {
        engine.get_completed_reads(reads);
        std::this_thread::sleep_for(2ms);
    }
    return reads;
}

unsigned long ulong_value(const ReadHolder& read, const std::string& key)
{
    return read.get_metadata().get_value<unsigned long>(key);
}

// The engine's result must be exactly what the toy caller computes from the samples.
void expect_called_as_predicted(const ReadHolder& read, const std::vector<std::int16_t>& samples,
                                const std::string& config, reference_server::CallFlags flags)
{
    const auto& definition = *reference_server::find_config(config);
    const auto expected = reference_server::ToyCaller::call(
            samples, tamsu_test::k_daq_offset, tamsu_test::k_daq_scaling, definition, flags);
    EXPECT_EQ(dataset_text(read, dataset::sequence), expected.sequence);
    EXPECT_EQ(dataset_text(read, dataset::qstring), expected.qstring);
    EXPECT_EQ(dataset_values<std::uint8_t>(read, dataset::moves), expected.moves);
    EXPECT_EQ(dataset_values<std::uint8_t>(read, dataset::trace), expected.trace);
    EXPECT_EQ(dataset_values<std::uint8_t>(read, dataset::run_lengths), expected.runs);
    EXPECT_EQ(dataset_values<float>(read, dataset::run_values_0), expected.run_values_0);
    EXPECT_EQ(dataset_values<float>(read, dataset::run_values_1), expected.run_values_1);
    EXPECT_EQ(dataset_values<float>(read, dataset::run_values_2), expected.run_values_2);
    EXPECT_EQ(dataset_values<std::uint32_t>(read, dataset::run_values_3), expected.run_values_3);
    EXPECT_EQ(dataset_values<std::uint32_t>(read, dataset::run_values_4), expected.run_values_4);
    EXPECT_EQ(dataset_values<std::uint8_t>(read, dataset::base_mod_probs),
              expected.mod_probabilities);
    EXPECT_EQ(dataset_values<float>(read, dataset::state_data), expected.state_data);

    const auto& metadata = read.get_metadata();
    const unsigned long duration = samples.size();
    EXPECT_EQ(metadata.get_value<std::string>("basecall_type"), expected.basecall_type);
    EXPECT_EQ(ulong_value(read, "model_stride"), definition.model_stride);
    EXPECT_EQ(ulong_value(read, "num_events"), duration / definition.model_stride);
    EXPECT_EQ(ulong_value(read, "trimmed_samples"), expected.trimmed_samples);
    EXPECT_EQ(ulong_value(read, "trimmed_duration"), duration - expected.trimmed_samples);
    EXPECT_EQ(ulong_value(read, "sequence_length"), expected.sequence.size());
    EXPECT_EQ(ulong_value(read, "rle_count"), expected.runs.size());
    EXPECT_EQ(ulong_value(read, "state_size"), definition.state_size);
    EXPECT_FLOAT_EQ(metadata.get_value<float>("mean_qscore"), expected.mean_qscore);
    EXPECT_FLOAT_EQ(metadata.get_value<float>("median"), expected.median);
    EXPECT_FLOAT_EQ(metadata.get_value<float>("pt_median"), expected.pt_median);
    EXPECT_EQ(metadata.get_value<bool>("pt_detect_success"), expected.pt_detect_success);
    EXPECT_EQ(metadata.get_value<std::string>("base_mod_alphabet"), expected.mod_alphabet);
    EXPECT_EQ(metadata.get_value<std::string>("base_mod_long_names"), expected.mod_long_names);
}

class BasecallClientTest : public ::testing::Test {
protected:
    std::string address() const { return m_server.endpoint().substr(6); }

    BasecallServer m_server{reference_server::ServerOptions()};
};

TEST_F(BasecallClientTest, ReadsOfOneAndManyBlocksComeBackAsCalledInEveryConfiguration)
{
    struct Case {
        const char* config;
        reference_server::CallFlags flags;
        unsigned long block_size;
        std::vector<std::size_t> lengths;
    };
    // Stride 5 and block size 100: 500 samples per block.
    const std::vector<Case> cases{
            {"toy_flipflop_fast", {}, 100, {120, 499, 500, 501, 1500, 1501, 4321}},
            {"toy_runlength", {}, 64, {5000}},
            {"toy_modbase", {}, 64, {5000}},
            {"toy_flipflop_fast", reference_server::CallFlags{false, true}, 100, {2600}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        EngineOptions options;
        options.config = c.config;
        options.block_size = c.block_size;
        options.disable_events = !c.flags.events;
        options.pull_state_data = c.flags.state_data;
        const auto engine = connected_engine(address(), options);
        ASSERT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
        EXPECT_EQ(engine->get_basecalling_config().config_name, c.config);
        const auto stride = reference_server::find_config(c.config)->model_stride;
        EXPECT_EQ(engine->get_basecalling_config().model_stride, stride);
        std::map<std::uint64_t, std::vector<std::int16_t>> sent;
        for (const auto length : c.lengths) {
            const std::uint64_t tag = sent.size() + 1;
            sent[tag] = make_samples(length, static_cast<std::uint32_t>(tag));
            auto read = make_read(tag, sent[tag], stride);
            ASSERT_EQ(engine->pass_read(read, 5000), PassReadResult::success);
            EXPECT_TRUE(read.get_datasets().empty());
        }

        const auto reads = collect(*engine, sent.size());

        ASSERT_EQ(reads.size(), sent.size());
        for (const auto& read : reads) {
            SCOPED_TRACE(read->get_read_tag());
            expect_called_as_predicted(*read, sent.at(read->get_read_tag()), c.config, c.flags);
            if (!c.flags.events) {
                EXPECT_EQ(read->get_datasets().count(dataset::moves), 0u);
                EXPECT_EQ(ulong_value(*read, "rle_count"), 0u);
            }
        }
    }
}

TEST_F(BasecallClientTest, AlignmentAndBarcodingResultsComeBackWithTheRead)
{
    const auto samples = make_samples(4000, 11);
    const auto called = reference_server::ToyCaller::call(
            samples, tamsu_test::k_daq_offset, tamsu_test::k_daq_scaling,
            *reference_server::find_config("toy_flipflop_fast"), {});
    const auto dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path();
    boost::filesystem::create_directories(dir);
    const std::string prefix = "TTTTTTTTTTGGGGGGGGGG";
    EngineOptions options;
    options.alignment_index = (dir / "ref.fa").string();
    options.bed_file = (dir / "ref.bed").string();
    options.barcode_kits = "TOY-BC12";
    std::ofstream(options.alignment_index) << ">chrT\n" << prefix << called.sequence << "\n";
    std::ofstream(options.bed_file) << "chrT\t0\t100000\tgene\n";
    const auto engine = connected_engine(address(), options);
    ASSERT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
    EXPECT_NE(engine->get_alignment_sam_header().find("SN:chrT"), std::string::npos);
    auto read = make_read(1, samples, 5);
    ASSERT_EQ(engine->pass_read(read, 5000), PassReadResult::success);

    const auto reads = collect(*engine, 1);
    boost::filesystem::remove_all(dir);

    ASSERT_EQ(reads.size(), 1u);
    const auto& result = *reads.front();
    const auto& metadata = result.get_metadata();
    EXPECT_EQ(metadata.get_value<std::string>("barcode_kit"), "TOY-BC12");
    EXPECT_EQ(metadata.get_value<std::string>("barcode_arrangement").rfind("barcode", 0), 0u);
    EXPECT_FALSE(metadata.get_value<std::string>("alignment_sam_record").empty());
    EXPECT_FALSE(metadata.get_value<std::string>("alignment_bed_lines").empty());
    const auto table =
            interfaces::ReadAlignmentHelper::create_alignment_table_from_read_holder(result);
    ASSERT_EQ(table.num_records, 1u);
    EXPECT_STREQ(&table.view_field<char>("Genome")[0], "chrT");
    EXPECT_EQ(table.view_field<std::int32_t>("GenomeStart")[0],
              static_cast<std::int32_t>(prefix.size()));
}

TEST_F(BasecallClientTest, ManyHostThreadsGetEveryReadBackExactlyOnce)
{
    EngineOptions options;
    options.max_reads_queued = 8;
    options.block_size = 200;
    const auto engine = connected_engine(address(), options);
    constexpr int k_threads = 4;
    constexpr int k_reads_per_thread = 10;
    std::vector<std::thread> hosts;
    for (int t = 0; t < k_threads; ++t) {
        hosts.emplace_back([&, t] {
            for (int i = 0; i < k_reads_per_thread; ++i) {
                const std::uint64_t tag = 1 + t * k_reads_per_thread + i;
                auto read = make_read(tag, make_samples(800 + 37 * i, tag), 5);
                while (engine->pass_read(read, 100) == PassReadResult::queue_full) {
                }
            }
        });
    }
    for (auto& host : hosts) {
        host.join();
    }

    const auto reads = collect(*engine, k_threads * k_reads_per_thread);
    std::multiset<std::uint64_t> tags;
    for (const auto& read : reads) {
        tags.insert(read->get_read_tag());
    }

    EXPECT_EQ(reads.size(), std::size_t(k_threads * k_reads_per_thread));
    EXPECT_EQ(std::set<std::uint64_t>(tags.begin(), tags.end()).size(), tags.size());
    EXPECT_TRUE(engine->finish_by(10));
}

TEST_F(BasecallClientTest, FinishWaitsForOutstandingReadsAndThenRefusesNewOnes)
{
    auto faults = m_server.faults();
    faults.call_delay = 300ms;
    m_server.set_faults(faults);
    const auto engine = connected_engine(address());
    auto read = make_read(1, make_samples(3000, 1), 5);
    ASSERT_EQ(engine->pass_read(read, 5000), PassReadResult::success);

    EXPECT_TRUE(engine->finish_by(0));

    ReadList reads;
    engine->get_completed_reads(reads);
    EXPECT_EQ(reads.size(), 1u);
    auto late = make_read(2, make_samples(3000, 2), 5);
    EXPECT_EQ(engine->pass_read(late, 100), PassReadResult::not_accepting_reads);
    EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::disconnected);
}

TEST_F(BasecallClientTest, FinishGivesUpOnASilentServer)
{
    EngineOptions options;
    options.request_timeout = 200;
    const auto engine = connected_engine(address(), options);
    auto faults = m_server.faults();
    faults.silent = true;
    m_server.set_faults(faults);
    auto read = make_read(1, make_samples(3000, 1), 5);
    ASSERT_EQ(engine->pass_read(read, 5000), PassReadResult::success);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(engine->finish_by(1));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(BasecallClientTest, LostReadsAreDroppedAndTheLoopGoesOn)
{
    auto faults = m_server.faults();
    faults.lose_reads = true;
    m_server.set_faults(faults);
    const auto engine = connected_engine(address());
    auto lost = make_read(1, make_samples(1000, 1), 5);
    ASSERT_EQ(engine->pass_read(lost, 5000), PassReadResult::success);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!engine->get_read_buffer()->all_reads_processed() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(engine->get_read_buffer()->all_reads_processed());

    faults.lose_reads = false;
    m_server.set_faults(faults);
    auto kept = make_read(2, make_samples(1000, 2), 5);
    ASSERT_EQ(engine->pass_read(kept, 5000), PassReadResult::success);
    const auto reads = collect(*engine, 1);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads.front()->get_read_tag(), 2u);
    EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
}

TEST(BasecallClientReconnectTest, AbsentServerWithoutReconnectTimeFailsAfterOneAttempt)
{
    EngineOptions options;
    options.reconnect_timeout = 0s;
    options.request_timeout = 50;
    const auto dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path();

    const auto engine = connected_engine("ipc://" + (dir / "nobody.sock").string(), options);

    EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::error);
    EXPECT_EQ(engine->get_connection_state().get_error_state().code, ConnectionError::timed_out);
    engine->disconnect();
    EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::disconnected);
}

TEST(BasecallClientReconnectTest, RefusedConfigurationEndsAtOnceDespiteAReconnectWindow)
{
    BasecallServer server{reference_server::ServerOptions()};
    EngineOptions options;
    options.config = "no_such_config";

    const auto engine = connected_engine(server.endpoint().substr(6), options);

    EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::error);
    EXPECT_EQ(engine->get_connection_state().get_error_state().code,
              ConnectionError::basecall_config_unavailable);
}

TEST(BasecallClientReconnectTest, KilledServerIsReconnectedAndInFlightReadsResent)
{
    const auto dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path();
    boost::filesystem::create_directories(dir);
    const auto endpoint = "ipc://" + (dir / "server.sock").string();
    auto server = std::make_unique<tamsu_test::ServerProcess>(
            std::vector<std::string>{"--call-delay", "400", endpoint});
    ASSERT_EQ(server->wait_for_endpoint(), endpoint);
    EngineOptions options;
    options.request_timeout = 200;
    const auto engine = connected_engine(endpoint, options);
    ASSERT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
    std::map<std::uint64_t, std::vector<std::int16_t>> sent;
    for (std::uint64_t tag = 1; tag <= 20; ++tag) {
        sent[tag] = make_samples(2000, static_cast<std::uint32_t>(tag));
        auto read = make_read(tag, sent[tag], 5);
        ASSERT_EQ(engine->pass_read(read, 5000), PassReadResult::success);
    }

    server->stop(SIGKILL);
    server = std::make_unique<tamsu_test::ServerProcess>(std::vector<std::string>{endpoint});
    ASSERT_EQ(server->wait_for_endpoint(), endpoint);
    const auto reads = collect(*engine, sent.size());

    std::set<std::uint64_t> tags;
    for (const auto& read : reads) {
        tags.insert(read->get_read_tag());
        expect_called_as_predicted(*read, sent.at(read->get_read_tag()), "toy_flipflop_fast", {});
    }
    EXPECT_EQ(reads.size(), sent.size());
    EXPECT_EQ(tags.size(), sent.size());
    EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
    engine->disconnect();
    boost::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace basecall_service

namespace basecall_service {
namespace {

// A handshake stand-in that fails the way a test asks it to, moving the state as a real
// handshake would.
class FailingConnectionProtocol : public AbstractConnectionProtocol {
public:
    FailingConnectionProtocol(ClientConnectionState& state,
                              std::function<RequestBrokerAdapter*()> attempt)
            : m_state(state)
            , m_attempt(std::move(attempt))
    {
    }
    void set_connection_params(const std::string&, unsigned int) override {}
    void set_curve_keys(const ipc_tools::CurveKeys&) override {}
    RequestBrokerAdapter* establish_server_connection(const ipc_tools::ConnectionInfo&,
                                                      std::uint32_t) override
    {
        ++attempts;
        m_state.set_status(ClientStatus::preparing_connection);
        return m_attempt();
    }
    const interfaces::ConfigDetails& get_config_details() const override { return m_details; }
    std::string get_connection_id() const override { return {}; }
    const std::string& get_alignment_file_header() const override { return m_header; }
    const ErrorState& error_state() const override { return m_error; }
    void disconnect_from_server() const override {}
    void stop() override {}

    std::atomic<int> attempts{0};
    ErrorState m_error{ConnectionError::timed_out, "no server"};

private:
    ClientConnectionState& m_state;
    std::function<RequestBrokerAdapter*()> m_attempt;
    interfaces::ConfigDetails m_details;
    std::string m_header;
};

std::atomic<int> g_callback_calls{0};
std::string g_callback_thread;

void record_callback()
{
    ++g_callback_calls;
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    g_callback_thread = name;
}

TEST(BasecallClientWorkerTest, ExceptionInTheWorkerIsRecordedAsAFailure)
{
    BasecallClient engine(50000, 10, false, false, record_callback);
    auto protocol = std::make_shared<FailingConnectionProtocol>(
            engine.get_connection_state(),
            []() -> RequestBrokerAdapter* { throw std::runtime_error("protocol blew up"); });
    engine.set_connection_protocol(protocol);

    engine.connect("unused", 100, 1, ipc_tools::ConnectionInfo());

    EXPECT_EQ(engine.get_connection_state().get_status(), ClientStatus::error);
    EXPECT_EQ(to_string(engine.get_connection_state().get_error_state()),
              "[failed] protocol blew up");
    EXPECT_EQ(g_callback_calls.load(), 1);
    EXPECT_EQ(g_callback_thread, "client_worker");
    auto read = make_read(1, make_samples(1000, 1), 5);
    EXPECT_EQ(engine.pass_read(read, 0), PassReadResult::not_accepting_reads);
}

// Every connection attempt takes 20 ms and ends as a time-out, which the worker retries.
std::shared_ptr<FailingConnectionProtocol>
install_slowly_timing_out_protocol(BasecallClient& engine)
{
    auto protocol = std::make_shared<FailingConnectionProtocol>(
            engine.get_connection_state(), []() -> RequestBrokerAdapter* {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return nullptr;
            });
    engine.set_connection_protocol(protocol);
    return protocol;
}

TEST(BasecallClientWorkerTest, TimeoutsAreRetriedUntilTheDeadline)
{
    BasecallClient engine(50000, 10, false, false, nullptr);
    const auto protocol = install_slowly_timing_out_protocol(engine);
    engine.set_reconnect_timeout(std::chrono::seconds(1));

    const auto start = std::chrono::steady_clock::now();
    engine.connect("unused", 100, 1, ipc_tools::ConnectionInfo());

    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_GT(protocol->attempts.load(), 2);
    EXPECT_EQ(engine.get_connection_state().get_error_state().code, ConnectionError::timed_out);
}

TEST(BasecallClientWorkerTest, DisconnectEndsALongReconnectWindow)
{
    BasecallClient engine(50000, 10, false, false, nullptr);
    const auto protocol = install_slowly_timing_out_protocol(engine);
    std::thread host([&] { engine.connect("unused", 100, 1, ipc_tools::ConnectionInfo()); });
    while (protocol->attempts.load() < 3) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    const auto start = std::chrono::steady_clock::now();
    engine.disconnect();
    host.join();

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(engine.get_connection_state().get_status(), ClientStatus::disconnected);
}

TEST(BasecallClientWorkerTest, ReportShowsStatusAndTheReadBuffer)
{
    BasecallClient engine(50000, 10, false, false, nullptr);
    std::vector<common::diagnostics::state::StateRecord> records;
    common::diagnostics::state::detail::ConcreteStateLogger logger(records);

    engine.report_state(logger);

    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[0].name, "m_client_connection_state");
    EXPECT_EQ(boost::any_cast<std::string>(records[0].value), "disconnected");
    EXPECT_EQ(records[1].name, "m_accept_data");
    EXPECT_EQ(records[2].name, "ReadBuffer");
    EXPECT_EQ(records.back().type, common::diagnostics::state::StateRecordType::end_section);
}

}  // namespace
}  // namespace basecall_service
