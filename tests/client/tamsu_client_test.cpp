#include "client/tamsu_client.h"

#include "client/server_query.h"
#include "server/basecall_server.h"
#include "server/catalogue.h"
#include "server/curve_key_files.h"
#include "server/toy_caller.h"
#include "support/read_factory.h"
#include "support/scripted_peer.h"
#include "support/temp_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace tamsu {
namespace {

using namespace std::chrono_literals;
namespace key_files = reference_server::curve_key_files;

Read make_read(std::uint64_t tag, std::size_t samples)
{
    auto holder = tamsu_test::make_read(tag, tamsu_test::make_samples(samples, tag), 5);
    holder.get_metadata().remove("duration");
    holder.get_metadata().remove("model_stride");
    Read read;
    read.set_readholder(holder);
    return read;
}

std::list<Read> collect(TamsuClient& client, std::size_t count)
{
    std::list<Read> reads;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (reads.size() < count && std::chrono::steady_clock::now() < end) {
        client.get_completed_reads(reads);
        std::this_thread::sleep_for(2ms);
    }
    return reads;
}

void run_threads(int count, const std::function<void(int)>& body)
{
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back(body, i);
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

// The reference server, in-process, for clients to connect to.
class TamsuClientTest : public ::testing::Test {
protected:
    void SetUp() override { m_server.emplace(reference_server::ServerOptions()); }
    std::string address() const { return m_server->endpoint().substr(6); }

    std::optional<reference_server::BasecallServer> m_server;
};

// A server that admits only the client's CURVE key.
class TamsuClientCurveTest : public TamsuClientTest {
protected:
    void SetUp() override
    {
        reference_server::ServerOptions options;
        options.curve.secret_key = m_server_keys.secret_key;
        options.curve.allowed_client_keys = {m_client_keys.public_key};
        m_server.emplace(options);
    }

    tamsu_test::TempDirectory m_keys;
    const key_files::KeyPair m_server_keys = key_files::generate(m_keys.file("server"));
    const key_files::KeyPair m_client_keys = key_files::generate(m_keys.file("client"));
    const key_files::KeyPair m_other_keys = key_files::generate(m_keys.file("other"));
    const TransportSecurity m_admitted{m_server_keys.public_key, m_client_keys.public_key,
                                       m_client_keys.secret_key};
};

TEST(TamsuClientOfflineTest, UnconnectedClientRefusesWorkAndNamesWhatAReadLacks)
{
    TamsuClient client("5555", "toy_flipflop_fast");
    vask::data_wrappers::Metadata config;
    Read complete = make_read(1, 1000);
    std::string text = "unchanged";
    EXPECT_EQ(client.disconnect(), Result::no_connection);
    EXPECT_EQ(client.pass_read(complete, 0), PassReadResult::not_accepting_reads);
    EXPECT_EQ(client.get_basecalling_config(config), Result::no_connection);
    EXPECT_TRUE(client.validate_read(complete, text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_NE(client.get_internal_state().find(
                      "\"TamsuClient\": {\n        \"status\": \"disconnected\""),
              std::string::npos);

    const std::pair<Read, const char*> invalid[] = {
            {Read(), " raw_data dataset not found. read_id metadata field not found. daq_offset "
                     "field not found. daq_scaling metadata field not found."},
            {make_read(1ul << 32, 1000), " read_tag 4294967296 does not fit in 32 bits."}};
    for (const auto& [read, problems] : invalid) {
        SCOPED_TRACE(problems);
        EXPECT_FALSE(client.validate_read(read, text));
        EXPECT_EQ(text, std::string("Missing data in ReadHolder object:") + problems);
    }
}

TEST(TamsuClientOfflineTest, SettersFromSeveralThreadsAtOnceAreAllTaken)
{
    TamsuClient client("5555", "cfg");
    std::atomic<int> refused{0};
    std::atomic<int> ready{0};
    const auto text = [](char fill, int i) { return std::string(64, fill) + std::to_string(i); };
    // Three threads on both setters, each also reading the parameters for the report.
    run_threads(3, [&](int thread) {
        const char fill = static_cast<char>('a' + thread);
        for (++ready; ready.load() < 3;) {
        }
        for (int i = 0; i < 200000; ++i) {
            const auto name = client.set_name(text(fill, i));
            const auto index = client.set_alignment_index_file(text(fill, i), text(fill, -i));
            refused += name == Result::success && index == Result::success ? 0 : 1;
            refused += i % 100 == 0 && client.get_internal_state().empty() ? 1 : 0;
        }
    });

    EXPECT_EQ(refused.load(), 0);
    // Whole values only: the last one some thread wrote.
    EXPECT_THAT(client.get_internal_state(),
                testing::ContainsRegex("\"m_align_index_file\": \"(a{64}|b{64}|c{64})199999\""));
}

TEST_F(TamsuClientCurveTest, FullLifeWithAlignmentAndBarcodingReportsEveryChangeAndEveryRead)
{
    const auto samples = tamsu_test::make_samples(4000, 1);
    const auto called = reference_server::ToyCaller::call(
            samples, tamsu_test::k_daq_offset, tamsu_test::k_daq_scaling,
            *reference_server::find_config("toy_flipflop_fast"), {});
    tamsu_test::TempDirectory directory;
    std::ofstream(directory.file("ref.fa")) << ">chrX\nGGGG" << called.sequence << "\n";
    TamsuClient client(address(), "toy_flipflop_fast");
    std::mutex mutex;  // guards changes
    std::condition_variable changed;
    std::vector<std::string> changes;
    client.set_state_change_handler([&](auto old_status, auto new_status, auto message) {
        std::lock_guard<std::mutex> lock(mutex);
        changes.push_back(to_string(old_status) + ">" + to_string(new_status) + " " + message);
        changed.notify_all();
    });
    client.set_move_and_trace_enabled(true);
    client.set_alignment_index_file(directory.file("ref.fa"));
    client.set_barcode_kits("TOY-BC12");
    ASSERT_EQ(client.set_transport_security(m_admitted), Result::success);
    ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();
    vask::data_wrappers::Metadata config;
    std::string header;
    EXPECT_EQ(client.get_basecalling_config(config), Result::success);
    EXPECT_EQ(config.get_value<unsigned long>("model_stride"), 5u);
    EXPECT_EQ(client.get_alignment_sam_header(header), Result::success);
    EXPECT_NE(header.find("SN:chrX"), std::string::npos);
    for (std::uint64_t tag = 1; tag <= 3; ++tag) {
        auto read = make_read(tag, 4500 - 500 * tag);
        ASSERT_EQ(client.pass_read(read, 5000), PassReadResult::success);
    }

    auto reads = collect(client, 3);
    ASSERT_EQ(reads.size(), 3u);
    reads.sort([](auto& a, auto& b) { return a.get_read_tag() < b.get_read_tag(); });
    EXPECT_EQ(reads.back().get_read_tag(), 3u);
    const auto& first = reads.front();
    EXPECT_EQ(first.get_datasets().at(interfaces::dataset::sequence).get_string(), called.sequence);
    EXPECT_EQ(first.get_datasets().count(interfaces::dataset::moves), 1u);
    EXPECT_EQ(first.get_by_name("alignment_genome_start"), "4");
    EXPECT_EQ(first.extract_alignment_sam_and_bed_lines().size(), 1u);
    EXPECT_EQ(first.get_by_name("barcode_kit"), "TOY-BC12");
    EXPECT_EQ(client.finish(10), Result::success);
    std::vector<std::string> expected;
    for (const char* step :
         {"disconnected>preparing_connection", "preparing_connection>loading_config",
          "loading_config>loading_alignment_index", "loading_alignment_index>loading_bed_file",
          "loading_bed_file>connecting", "connecting>connected", "connected>disconnected"}) {
        expected.push_back(std::string(step) + " [no_error] ");
    }
    std::unique_lock<std::mutex> lock(mutex);  // the last change may still be on its way
    changed.wait_for(lock, 60s, [&] { return changes.size() >= expected.size(); });
    EXPECT_EQ(changes, expected);
}

// Each failure ends connect with failed and says why, as does a query with the same keys.
TEST_F(TamsuClientCurveTest, HandshakeFailuresEndConnectAndQueriesPromptlyWithTheirCause)
{
    // A failure is known after four waits; the bound is far below 300 s of reconnecting.
    constexpr unsigned int timeout_ms = 500;
    constexpr auto prompt = 60s;
    const struct {
        const char* name;
        TransportSecurity security;
        const char* cause;
    } cases[] = {
            {"wrong server key",
             {m_other_keys.public_key, m_client_keys.public_key, m_client_keys.secret_key},
             "its public key does not match"},
            {"client not admitted",
             {m_server_keys.public_key, m_other_keys.public_key, m_other_keys.secret_key},
             "The server refused this client's CURVE key"},
            // A mechanism mismatch, or a handshake broken off before it is told: both name CURVE.
            {"plain client", {}, "CURVE transport security"},
            {"malformed key",
             {m_server_keys.public_key.substr(1), m_client_keys.public_key,
              m_client_keys.secret_key},
             "the server's public key is not 40 characters of Z85 text"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        TamsuClient client(address(), "toy_flipflop_fast");
        ASSERT_EQ(client.set_transport_security(each.security), Result::success);
        ASSERT_EQ(client.set_timeout(timeout_ms), Result::success);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.connect(), Result::failed);
        EXPECT_LT(std::chrono::steady_clock::now() - start, prompt);
        EXPECT_EQ(client.get_status(), ConnectionStatus::error);
        EXPECT_THAT(client.get_error_message(), testing::HasSubstr(each.cause));
        std::string state;
        const auto query_start = std::chrono::steady_clock::now();
        EXPECT_EQ(server_query::get_server_internal_state(state, address(), timeout_ms,
                                                          each.security),
                  Result::failed);
        EXPECT_LT(std::chrono::steady_clock::now() - query_start, prompt);
    }
}

TEST_F(TamsuClientTest, SettersAreRefusedUnlessDisconnectedAndConnectedValuesAreKept)
{
    TamsuClient client(address(), "toy_flipflop_fast");
    TamsuClient front_only(address(), "toy_flipflop_fast");
    TamsuClient refused(address(), "no_such_config");
    client.set_name("before");
    client.set_min_score_rear_barcodes(0.7f);
    client.set_min_score_front_barcodes(0.5f);
    front_only.set_min_score_front_barcodes(0.25f);
    ASSERT_EQ(client.connect(), Result::success);
    ASSERT_EQ(front_only.connect(), Result::success);
    EXPECT_EQ(refused.connect(), Result::basecall_config_unavailable);

    EXPECT_EQ(client.set_name("after"), Result::already_connected);
    EXPECT_EQ(client.set_transport_security({"key", "key", "key"}), Result::already_connected);
    EXPECT_EQ(client.connect(), Result::already_connected);
    std::string state;
    ASSERT_EQ(server_query::get_server_internal_state(state, address(), 5000), Result::success);
    EXPECT_NE(state.find("client_name=before>"), std::string::npos) << state;
    EXPECT_NE(state.find(">min_score=0.5>min_score_rear_override=0.7:"), std::string::npos);
    // A front score alone is the rear score too.
    EXPECT_NE(state.find(">min_score=0.25>min_score_rear_override=0.25:"), std::string::npos);
    // A refused connection says why and leaves an error until disconnect.
    EXPECT_EQ(refused.get_error_message().rfind("[basecall_config_unavailable] ", 0), 0u);
    EXPECT_EQ(refused.get_status(), ConnectionStatus::error);
    EXPECT_EQ(refused.set_block_size(10), Result::already_connected);
    EXPECT_EQ(refused.connect(), Result::failed);
    EXPECT_EQ(refused.disconnect(), Result::success);
    EXPECT_EQ(refused.set_block_size(10), Result::success);
    // A local failure is the exception to result codes.
    refused.set_alignment_index_file("/nonexistent/ref.fa");
    EXPECT_THROW(refused.connect(), std::runtime_error);
}

TEST_F(TamsuClientTest, TwoHostsWaitingToPassOneTagGetOneReadInAndTheOtherRefused)
{
    // One read called and one queued: both hosts find tag 7 free and wait for the first back.
    auto faults = m_server->faults();
    faults.max_reads_in_flight = 1;
    faults.call_delay = 2s;
    m_server->set_faults(faults);
    TamsuClient client(address(), "toy_flipflop_fast");
    client.set_max_reads_queued(1);
    client.set_default_pass_read_timeout_ms(300);
    ASSERT_EQ(client.connect(), Result::success);
    auto called = make_read(1, 1000);
    auto queued = make_read(2, 1000);
    ASSERT_EQ(client.pass_read(called, 5000), PassReadResult::success);
    ASSERT_EQ(client.pass_read(queued, 5000), PassReadResult::success);
    std::string message;
    EXPECT_FALSE(client.validate_read(make_read(1, 1000), message));
    EXPECT_EQ(message, "Missing data in ReadHolder object: read_tag 1 is already in flight.");
    // No time-out given: the default one, long before the called read is back.
    const auto start = std::chrono::steady_clock::now();
    auto early = make_read(3, 1000);
    EXPECT_EQ(client.pass_read(early, 0), PassReadResult::queue_full);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);

    std::vector<PassReadResult> results(2);
    run_threads(2, [&](int host) {
        auto twin = make_read(7, 1000 + 100 * host);
        results[host] = client.pass_read(twin, 60000);
    });

    std::sort(results.begin(), results.end());
    EXPECT_EQ(results,
              (std::vector<PassReadResult>{PassReadResult::success, PassReadResult::invalid_read}));
    EXPECT_EQ(collect(client, 3).size(), 3u);
}

TEST_F(TamsuClientTest, StoppingWhileTheServerIsSilentDoesNotWaitForTheRequestTimeOut)
{
    // Four waits of this each, 40 s, is what a silent server used to cost.
    constexpr unsigned int wait_ms = 10000;
    using Stop = std::function<void(std::unique_ptr<TamsuClient>&)>;
    const std::vector<std::pair<const char*, Stop>> stops = {
            {"disconnect",
             [](auto& client) {
                 EXPECT_EQ(client->disconnect(), Result::success);
                 EXPECT_EQ(client->get_status(), ConnectionStatus::disconnected);
             }},
            {"finish after its time-out",
             [](auto& client) { EXPECT_EQ(client->finish(1), Result::failed); }},
            {"destructor", [](auto& client) { client.reset(); }},
    };
    for (const auto& [name, stop] : stops) {
        SCOPED_TRACE(name);
        auto faults = m_server->faults();
        faults.silent = false;
        m_server->set_faults(faults);
        auto client = std::make_unique<TamsuClient>(address(), "toy_flipflop_fast");
        client->set_timeout(wait_ms);
        ASSERT_EQ(client->connect(), Result::success);
        faults.silent = true;
        m_server->set_faults(faults);
        auto read = make_read(1, 1000);
        ASSERT_EQ(client->pass_read(read, 5000), PassReadResult::success);

        const auto start = std::chrono::steady_clock::now();
        stop(client);
        EXPECT_LT((std::chrono::steady_clock::now() - start) / 1ms, wait_ms);
    }
}

TEST(TamsuClientReconnectTest, ReconnectingWithTinyTimeOutsKeepsDescriptorsBounded)
{
    const auto open_descriptors = [] {
        const std::filesystem::directory_iterator entries("/proc/self/fd");
        return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
    };
    tamsu_test::TempDirectory directory;
    tamsu_test::ScriptedPeer silent(
            [](const tamsu_test::ReceivedRequest&) { return tamsu_test::PeerAction::silence(); },
            "tcp://127.0.0.1:*", false);
    const std::pair<const char*, std::string> servers[] = {
            {"absent", "ipc://" + directory.file("nobody")}, {"silent", silent.address()}};
    for (const auto& [kind, address] : servers) {
        for (const unsigned int timeout_ms : {0u, 1u}) {
            SCOPED_TRACE(std::string(kind) + " server, time-out " + std::to_string(timeout_ms));
            TamsuClient client(address, "toy_flipflop_fast");
            client.set_timeout(timeout_ms);
            const auto before = open_descriptors();
            std::thread host([&] { EXPECT_NE(client.connect(), Result::success); });

            std::size_t most = before;
            bool failed = false;
            for (int sample = 0; sample < 40 && !failed; ++sample) {
                std::this_thread::sleep_for(50ms);
                most = std::max(most, open_descriptors());
                failed = client.get_status() == ConnectionStatus::error;
            }
            const auto start = std::chrono::steady_clock::now();
            client.disconnect();
            host.join();
            EXPECT_LT((std::chrono::steady_clock::now() - start) / 1ms, 5000);
            EXPECT_FALSE(failed) << client.get_error_message();
            EXPECT_LE(most, before + 20);
        }
    }
}

}  // namespace
}  // namespace tamsu
