#include "client/tamsu_client.h"

#include "basecall_service/server_proxy.h"
#include "server/basecall_server.h"
#include "support/read_factory.h"
#include "support/scripted_peer.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

namespace tamsu {
namespace {

using namespace std::chrono_literals;

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

std::size_t open_descriptors()
{
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// Status changes as the host's handler hears them.
class ChangeLog {
public:
    TamsuClient::StateChangeHandler handler()
    {
        return [this](ConnectionStatus old_status, ConnectionStatus new_status,
                      std::string message) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_changes.push_back(to_string(old_status) + ">" + to_string(new_status) + " " +
                                message);
            m_changed.notify_all();
        };
    }

    std::vector<std::string> wait_for(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, 20s, [&] { return m_changes.size() >= count; });
        return m_changes;
    }

private:
    std::mutex m_mutex;  // guards m_changes
    std::condition_variable m_changed;
    std::vector<std::string> m_changes;
};

class TamsuClientTest : public ::testing::Test {
protected:
    std::string address() const { return m_server.endpoint().substr(6); }
    std::string server_state() const
    {
        return basecall_service::server_proxy::get_server_internal_state(address(), 5000);
    }
    // A client, not connected yet, that queues one read for a server that calls one read at a
    // time, each for `call_delay`.
    std::unique_ptr<TamsuClient> queue_of_one(std::chrono::milliseconds call_delay)
    {
        auto faults = m_server.faults();
        faults.max_reads_in_flight = 1;
        faults.call_delay = call_delay;
        m_server.set_faults(faults);
        auto client = std::make_unique<TamsuClient>(address(), "toy_flipflop_fast");
        client->set_max_reads_queued(1);
        return client;
    }

    reference_server::BasecallServer m_server{reference_server::ServerOptions()};
};

TEST(TamsuClientOfflineTest, FreshClientRefusesEverythingThatNeedsAConnection)
{
    TamsuClient client("5555", "toy_flipflop_fast");
    std::list<Read> reads;
    reads.emplace_back();
    vask::data_wrappers::Metadata config;
    std::string header = "unchanged";
    Read read = make_read(1, 1000);

    EXPECT_EQ(client.get_status(), ConnectionStatus::disconnected);
    EXPECT_EQ(client.disconnect(), Result::no_connection);
    EXPECT_EQ(client.finish(0), Result::no_connection);
    EXPECT_EQ(client.pass_read(read, 0), PassReadResult::not_accepting_reads);
    client.get_completed_reads(reads);
    EXPECT_EQ(reads.size(), 1u);
    EXPECT_EQ(client.get_basecalling_config(config), Result::no_connection);
    EXPECT_EQ(client.get_alignment_sam_header(header), Result::no_connection);
    EXPECT_EQ(header, "unchanged");
    EXPECT_EQ(client.get_error_message(), "");
}

TEST(TamsuClientOfflineTest, ValidationListsEveryMissingItem)
{
    TamsuClient client("5555", "cfg");
    Read empty;
    std::string message = "untouched";

    EXPECT_FALSE(client.validate_read(empty, message));
    EXPECT_EQ(message, "Missing data in ReadHolder object: raw_data dataset not found. read_id "
                       "metadata field not found. daq_offset field not found. daq_scaling "
                       "metadata field not found.");
    auto complete = make_read(1, 1000);
    message = "untouched";
    EXPECT_TRUE(client.validate_read(complete, message));
    EXPECT_EQ(message, "untouched");
}

TEST(TamsuClientOfflineTest, SettersFromSeveralThreadsAtOnceAreAllTaken)
{
    TamsuClient client("5555", "cfg");
    std::atomic<int> refused{0};
    const auto text = [](char fill, int i) { return std::string(64, fill) + std::to_string(i); };
    // Two threads per setter, and one reading the parameters for the report.
    std::atomic<int> ready{0};
    const auto host = [&](char fill) {
        for (++ready; ready.load() < 3;) {
        }
        for (int i = 0; i < 200000; ++i) {
            const auto name = client.set_name(text(fill, i));
            const auto index = client.set_alignment_index_file(text(fill, i), text(fill, -i));
            refused += name == Result::success && index == Result::success ? 0 : 1;
            refused += i % 100 == 0 && client.get_internal_state().empty() ? 1 : 0;
        }
    };
    std::vector<std::thread> hosts;
    for (const char fill : {'a', 'b', 'c'}) {
        hosts.emplace_back(host, fill);
    }
    for (auto& thread : hosts) {
        thread.join();
    }

    EXPECT_EQ(refused.load(), 0);
    // Whole values only: the last one some thread wrote.
    const auto state = client.get_internal_state();
    const std::string key = "\"m_align_index_file\": \"";
    const auto start = state.find(key) + key.size();
    const auto value = state.substr(start, state.find('"', start) - start);
    EXPECT_TRUE(value == text('a', 199999) || value == text('b', 199999) ||
                value == text('c', 199999))
            << value;
}

TEST(TamsuClientOfflineTest, VersionsAndTheReportOfAnUnconnectedClient)
{
    EXPECT_EQ(TamsuClient::get_api_version().text, "5.0.0");
    EXPECT_EQ(TamsuClient::get_data_wrappers_version().text, "1.0.0");
    EXPECT_EQ(TamsuClient::get_protocol_version().text, "7.0.0");
    EXPECT_EQ(TamsuClient::get_software_version().text.rfind("5.0.7+", 0), 0u);
    EXPECT_EQ(TamsuClient::get_software_version().patch, 7);

    TamsuClient client("5555", "cfg");
    const auto state = client.get_internal_state();
    EXPECT_NE(state.find("\"TamsuClient\": {\n        \"status\": \"disconnected\""),
              std::string::npos)
            << state;
    EXPECT_NE(state.find("\"client\": \"null\""), std::string::npos) << state;
}

TEST_F(TamsuClientTest, FullLifeReportsEveryStatusChangeAndReturnsEveryRead)
{
    TamsuClient client(address(), "toy_flipflop_fast");
    ChangeLog log;
    ASSERT_EQ(client.set_state_change_handler(log.handler()), Result::success);
    ASSERT_EQ(client.set_move_and_trace_enabled(true), Result::success);

    ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();

    const std::string ok = " [no_error] ";
    EXPECT_EQ(log.wait_for(6),
              (std::vector<std::string>{"disconnected>preparing_connection" + ok,
                                        "preparing_connection>loading_config" + ok,
                                        "loading_config>loading_alignment_index" + ok,
                                        "loading_alignment_index>loading_bed_file" + ok,
                                        "loading_bed_file>connecting" + ok,
                                        "connecting>connected" + ok}));
    vask::data_wrappers::Metadata config;
    ASSERT_EQ(client.get_basecalling_config(config), Result::success);
    EXPECT_EQ(config.get_value<unsigned long>("model_stride"), 5u);
    EXPECT_EQ(config.get_value<std::string>("model_type"), "flipflop");
    EXPECT_EQ(config.get_value<unsigned long>("beam_width"), 40u);
    EXPECT_EQ(config.get_keys().size(), 10u);

    std::atomic<int> queued{0};
    std::vector<std::thread> hosts;
    for (int t = 0; t < 3; ++t) {
        hosts.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                auto read = make_read(1 + t * 40 + i, 1500 + 10 * i);
                while (client.pass_read(read, 100) == PassReadResult::queue_full) {
                }
                ++queued;
            }
        });
    }
    for (auto& host : hosts) {
        host.join();
    }
    const auto reads = collect(client, 120);
    std::set<unsigned long> tags;
    for (const auto& read : reads) {
        tags.insert(read.get_read_tag());
        EXPECT_FALSE(read.get_by_name("sequence_length").empty());
        EXPECT_EQ(read.get_datasets().count(interfaces::dataset::moves), 1u);
    }
    EXPECT_EQ(tags.size(), 120u);

    EXPECT_EQ(client.finish(10), Result::success);
    EXPECT_EQ(client.get_status(), ConnectionStatus::disconnected);
    EXPECT_EQ(client.disconnect(), Result::no_connection);
    EXPECT_EQ(log.wait_for(7).back(), "connected>disconnected" + ok);
}

TEST_F(TamsuClientTest, RefusedConfigurationLeavesAnErrorUntilDisconnect)
{
    TamsuClient client(address(), "no_such_config");

    EXPECT_EQ(client.connect(), Result::basecall_config_unavailable);

    EXPECT_EQ(client.get_status(), ConnectionStatus::error);
    EXPECT_EQ(client.get_error_message().rfind("[basecall_config_unavailable] ", 0), 0u);
    EXPECT_EQ(client.set_block_size(10), Result::already_connected);
    EXPECT_EQ(client.connect(), Result::failed);
    EXPECT_EQ(client.finish(1), Result::failed);
    EXPECT_EQ(client.disconnect(), Result::success);
    EXPECT_EQ(client.get_status(), ConnectionStatus::disconnected);
    EXPECT_EQ(client.set_block_size(10), Result::success);
}

TEST_F(TamsuClientTest, SettersAreRefusedWhileConnectedAndKeepTheirValues)
{
    TamsuClient client(address(), "toy_flipflop_fast");
    ASSERT_EQ(client.set_name("before"), Result::success);
    ASSERT_EQ(client.set_min_score_rear_barcodes(0.7f), Result::success);
    ASSERT_EQ(client.set_min_score_front_barcodes(0.5f), Result::success);
    ASSERT_EQ(client.set_priority(Read::HIGH_PRIORITY), Result::success);
    ASSERT_EQ(client.connect(), Result::success);

    EXPECT_EQ(client.set_name("after"), Result::already_connected);
    EXPECT_EQ(client.set_timeout(1), Result::already_connected);
    EXPECT_EQ(client.set_lamp_kit("TOY-LAMP"), Result::already_connected);
    EXPECT_EQ(client.set_transport_security({"key", "key", "key"}), Result::already_connected);
    EXPECT_EQ(client.set_state_change_handler([](auto, auto, auto) {}), Result::already_connected);
    EXPECT_EQ(client.connect(), Result::already_connected);

    const auto state = server_state();
    EXPECT_NE(state.find("client_name=before>"), std::string::npos) << state;
    EXPECT_NE(state.find(">min_score=0.5>min_score_rear_override=0.7:"), std::string::npos)
            << state;
    EXPECT_NE(state.find("\"priority\":2"), std::string::npos) << state;
    EXPECT_NE(client.get_internal_state().find("\"BasecallClient\""), std::string::npos);
    EXPECT_EQ(client.disconnect(), Result::success);
    EXPECT_EQ(client.set_name("after"), Result::success);
}

TEST_F(TamsuClientTest, FrontScoreAloneAlsoSetsTheRearScore)
{
    TamsuClient client(address(), "toy_flipflop_fast");
    ASSERT_EQ(client.set_min_score_front_barcodes(0.5f), Result::success);

    ASSERT_EQ(client.connect(), Result::success);

    EXPECT_NE(server_state().find(">min_score=0.5>min_score_rear_override=0.5:"),
              std::string::npos);
}

TEST_F(TamsuClientTest, PassReadWithoutTimeoutUsesTheDefaultOne)
{
    const auto client = queue_of_one(10s);
    client->set_default_pass_read_timeout_ms(300);
    ASSERT_EQ(client->connect(), Result::success);
    std::vector<PassReadResult> results;
    for (std::uint64_t tag = 1; tag <= 3; ++tag) {
        auto read = make_read(tag, 1000);
        results.push_back(client->pass_read(read, 0));
    }

    auto last = make_read(4, 1000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client->pass_read(last, 0), PassReadResult::queue_full);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_EQ(results.front(), PassReadResult::success);
    auto invalid = Read();
    EXPECT_EQ(client->pass_read(invalid, 0), PassReadResult::invalid_read);
    EXPECT_EQ(client->disconnect(), Result::success);
}

TEST_F(TamsuClientTest, AlignmentResultsReachTheReadAsMetadataAndLines)
{
    const auto dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path();
    boost::filesystem::create_directories(dir);
    const auto index = (dir / "ref.fa").string();
    // A reference holding the read's own bases, as the toy caller produces them.
    {
        TamsuClient probe(address(), "toy_flipflop_fast");
        ASSERT_EQ(probe.connect(), Result::success);
        auto read = make_read(1, 4000);
        ASSERT_EQ(probe.pass_read(read, 5000), PassReadResult::success);
        const auto reads = collect(probe, 1);
        ASSERT_EQ(reads.size(), 1u);
        std::ofstream(index)
                << ">chrX\nGGGG"
                << reads.front().get_datasets().at(interfaces::dataset::sequence).get_string()
                << "\n";
    }
    TamsuClient client(address(), "toy_flipflop_fast");
    ASSERT_EQ(client.set_alignment_index_file(index), Result::success);
    ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();
    std::string header;
    ASSERT_EQ(client.get_alignment_sam_header(header), Result::success);
    auto read = make_read(1, 4000);
    ASSERT_EQ(client.pass_read(read, 5000), PassReadResult::success);

    const auto reads = collect(client, 1);
    boost::filesystem::remove_all(dir);

    ASSERT_EQ(reads.size(), 1u);
    const auto& result = reads.front();
    EXPECT_NE(header.find("SN:chrX"), std::string::npos);
    EXPECT_TRUE(result.has_alignment_data());
    EXPECT_EQ(result.get_by_name("alignment_genome"), "chrX");
    EXPECT_EQ(result.get_by_name("alignment_genome_start"), "4");
    const auto lines = result.extract_alignment_sam_and_bed_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_FALSE(lines[0].sam_record.empty());
}

TEST_F(TamsuClientTest, TagsThatCannotBeMatchedAreRefusedWithoutCostingOtherReads)
{
    auto faults = m_server.faults();
    faults.call_delay = 300ms;
    m_server.set_faults(faults);
    TamsuClient client(address(), "toy_flipflop_fast");
    ASSERT_EQ(client.connect(), Result::success);
    auto wide = make_read(1ul << 32, 1000);
    auto first = make_read(5, 1000);
    auto twin = make_read(5, 1200);
    std::string message;

    EXPECT_FALSE(client.validate_read(wide, message));
    EXPECT_EQ(message, "Missing data in ReadHolder object: read_tag 4294967296 does not fit in 32 "
                       "bits.");
    EXPECT_EQ(client.pass_read(wide, 0), PassReadResult::invalid_read);
    ASSERT_EQ(client.pass_read(first, 5000), PassReadResult::success);
    EXPECT_FALSE(client.validate_read(twin, message));
    EXPECT_EQ(message, "Missing data in ReadHolder object: read_tag 5 is already in flight.");
    EXPECT_EQ(client.pass_read(twin, 0), PassReadResult::invalid_read);

    const auto reads = collect(client, 1);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads.front().get_by_name("duration"), "1000");
    EXPECT_EQ(client.pass_read(twin, 5000), PassReadResult::success);
    EXPECT_EQ(client.get_status(), ConnectionStatus::connected);
}

TEST_F(TamsuClientTest, TwoHostsWaitingToPassOneTagGetOneReadInAndTheOtherRefused)
{
    // Both hosts find the tag free and wait for room, which comes when the first read is back.
    const auto client = queue_of_one(1s);
    ASSERT_EQ(client->connect(), Result::success);
    auto called = make_read(1, 1000);
    auto queued = make_read(2, 1000);
    ASSERT_EQ(client->pass_read(called, 5000), PassReadResult::success);
    ASSERT_EQ(client->pass_read(queued, 5000), PassReadResult::success);

    std::vector<PassReadResult> results(2);
    std::vector<std::thread> hosts;
    for (std::size_t host = 0; host < results.size(); ++host) {
        hosts.emplace_back([&, host] {
            auto twin = make_read(7, 1000 + 100 * host);
            results[host] = client->pass_read(twin, 60000);
        });
    }
    for (auto& host : hosts) {
        host.join();
    }

    std::sort(results.begin(), results.end());
    EXPECT_EQ(results,
              (std::vector<PassReadResult>{PassReadResult::success, PassReadResult::invalid_read}));
    EXPECT_EQ(collect(*client, 3).size(), 3u);
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
        auto faults = m_server.faults();
        faults.silent = false;
        m_server.set_faults(faults);
        auto client = std::make_unique<TamsuClient>(address(), "toy_flipflop_fast");
        client->set_timeout(wait_ms);
        ASSERT_EQ(client->connect(), Result::success);
        faults.silent = true;
        m_server.set_faults(faults);
        auto read = make_read(1, 1000);
        ASSERT_EQ(client->pass_read(read, 5000), PassReadResult::success);

        const auto start = std::chrono::steady_clock::now();
        stop(client);
        const auto elapsed = std::chrono::steady_clock::now() - start;

        EXPECT_LT(elapsed / 1ms, wait_ms);
    }
}

TEST(TamsuClientReconnectTest, ReconnectingWithTinyTimeOutsKeepsDescriptorsBounded)
{
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
            const auto elapsed = std::chrono::steady_clock::now() - start;

            EXPECT_FALSE(failed) << client.get_error_message();
            EXPECT_LE(most, before + 20);
            EXPECT_LT(elapsed / 1ms, 5000);
        }
    }
}

TEST_F(TamsuClientTest, SeparatorsInConnectionValuesFailTheConnectionCleanly)
{
    TamsuClient client(address(), "toy_flipflop_fast");
    ASSERT_EQ(client.set_name("lab:7"), Result::success);

    EXPECT_EQ(client.connect(), Result::failed);

    EXPECT_EQ(client.get_error_message(),
              "[failed] The client name 'lab:7' contains ':', which a connection cannot carry");
    EXPECT_EQ(m_server.client_count(), 0u);
}

TEST_F(TamsuClientTest, CanonicalPathFailureThrowsOutOfConnect)
{
    TamsuClient client(address(), "toy_flipflop_fast");
    ASSERT_EQ(client.set_alignment_index_file("/nonexistent/ref.fa"), Result::success);

    EXPECT_THROW(client.connect(), std::runtime_error);
    EXPECT_EQ(client.get_status(), ConnectionStatus::disconnected);
}

}  // namespace
}  // namespace tamsu
