// One client streams reads while the reference server, run as a child process, is killed and
// restarted, refuses reads, loses them, forgets the client and calls slowly. At the end every
// read passed must have exactly one fate: returned once, or lost by a report the client acted
// on. Threads and file descriptors must be back to what they were before the client existed.
//
// TAMSU_SOAK_SECONDS sets how long the faults go on (default 10; every fault runs at least once).

#include "client/tamsu_client.h"
#include "common/logger.h"
#include "server/catalogue.h"
#include "server/toy_caller.h"
#include "support/read_factory.h"
#include "support/server_process.h"
#include "support/temp_directory.h"

#include <boost/log/expressions.hpp>
#include <gtest/gtest.h>

#include <signal.h>
#include <zmq.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tamsu::ConnectionStatus;
using tamsu::PassReadResult;
using tamsu::Read;
using tamsu::Result;

constexpr const char* k_config = "toy_flipflop_fast";
constexpr unsigned long k_model_stride = 5;
constexpr unsigned long k_short_read = 60;  // under 20 strides: comes back uncalled
const std::string k_read_id_prefix = "read_";

std::chrono::seconds soak_duration()
{
    const char* text = std::getenv("TAMSU_SOAK_SECONDS");
    const long seconds = text != nullptr ? std::atol(text) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : 10);
}

// Mostly one to four blocks of 2,000 samples, now and then a read too short to call.
std::size_t read_length(std::uint64_t tag)
{
    const auto mix = static_cast<std::uint32_t>(tag * 2654435761u);
    return mix % 50 == 0 ? k_short_read : 200 + (mix >> 8) % 7000;
}

Read make_read(std::uint64_t tag)
{
    auto holder = tamsu_test::make_read(
            tag, tamsu_test::make_samples(read_length(tag), static_cast<std::uint32_t>(tag)),
            k_model_stride);
    Read read;
    read.set_readholder(holder);
    return read;
}

std::string expected_sequence(std::uint64_t tag)
{
    if (read_length(tag) == k_short_read) {
        return {};
    }
    const auto samples =
            tamsu_test::make_samples(read_length(tag), static_cast<std::uint32_t>(tag));
    return reference_server::ToyCaller::call(samples, tamsu_test::k_daq_offset,
                                             tamsu_test::k_daq_scaling,
                                             *reference_server::find_config(k_config), {})
            .sequence;
}

// 0 for an id this test never made.
std::uint64_t tag_of(const std::string& read_id)
{
    if (read_id.compare(0, k_read_id_prefix.size(), k_read_id_prefix) != 0) {
        return 0;
    }
    return std::strtoull(read_id.c_str() + k_read_id_prefix.size(), nullptr, 10);
}

// A free loopback port for the server to bind again after every restart. It lies below the
// usual ephemeral range, so that no outgoing connection (least of all the client's own
// reconnection attempts while the server is down) can be holding it at that moment.
int free_loopback_port()
{
    std::mt19937 random(std::random_device{}());
    zmq::context_t context;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto port = std::uniform_int_distribution<int>(20000, 32000)(random);
        zmq::socket_t probe(context, zmq::socket_type::rep);
        probe.set(zmq::sockopt::linger, 0);
        try {
            probe.bind("tcp://127.0.0.1:" + std::to_string(port));
            return port;
        } catch (const zmq::error_t&) {
        }
    }
    return -1;
}

// Threads and descriptors of this process.
std::pair<std::size_t, std::size_t> resources()
{
    const auto entries_in = [](const char* directory) {
        const std::filesystem::directory_iterator entries(directory);
        return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
    };
    return {entries_in("/proc/self/task"), entries_in("/proc/self/fd")};
}

// The reference server on one fixed loopback endpoint, restarted with other flags at will. Every
// run writes its own lost reads file.
struct SoakServer {
    explicit SoakServer(const tamsu_test::TempDirectory& directory)
            : directory(directory)
            , address("127.0.0.1:" + std::to_string(free_loopback_port()))
    {
    }

    // Kills the running server, if any, and starts one with `flags`; false when it never
    // listened (another process may hold the port for a moment, so it tries for a while).
    bool restart(const std::vector<std::string>& flags)
    {
        for (int attempt = 0; attempt < 50; ++attempt, std::this_thread::sleep_for(200ms)) {
            if (process) {
                process->stop(SIGKILL);
                ++kills;
            }
            auto arguments = flags;
            lost_reads_files.push_back(
                    directory.file("lost-" + std::to_string(lost_reads_files.size())));
            arguments.insert(arguments.end(),
                             {"--lost-reads-file", lost_reads_files.back(), address});
            process = std::make_unique<tamsu_test::ServerProcess>(arguments);
            if (process->wait_for_endpoint() == "tcp://" + address) {
                return true;
            }
        }
        return false;
    }

    const tamsu_test::TempDirectory& directory;
    const std::string address;
    std::unique_ptr<tamsu_test::ServerProcess> process;
    std::vector<std::string> lost_reads_files;
    int kills = 0;
};

// What the host passed and got back, read by read (indexed by tag; tags start at 1). Only the
// feeding thread writes it while that runs; others read the atomics meanwhile.
struct ReadLedger {
    std::atomic<std::uint64_t> passed{0};
    std::atomic<bool> failed{false};
    std::vector<int> returned;  // times each tag came back
    std::vector<std::string> problems;

    void problem(const std::string& text)
    {
        problems.push_back(text);
        failed = true;
    }

    void record(std::list<Read>& reads)
    {
        for (auto& read : reads) {
            const auto tag = read.get_read_tag();
            const auto id = read.get_metadata().get_value<std::string>("read_id");
            const auto sequence =
                    tamsu_test::dataset_text(read.get_readholder(), interfaces::dataset::sequence);
            if (tag_of(id) != tag || tag == 0 || tag > passed ||
                sequence != expected_sequence(tag)) {
                problem("returned read " + id + " (tag " + std::to_string(tag) +
                        ") was not passed as such or came back altered");
                continue;
            }
            returned.resize(std::max<std::size_t>(returned.size(), tag + 1), 0);
            ++returned[tag];
        }
        reads.clear();
    }
};

// A host thread that keeps the client's queue full and collects what comes back.
class Feeder {
public:
    Feeder(tamsu::TamsuClient& client, ReadLedger& ledger)
            : m_client(client)
            , m_ledger(ledger)
            , m_thread([this] { run(); })
    {
    }
    ~Feeder() { stop(); }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    void run()
    {
        auto read = make_read(1);
        std::list<Read> completed;
        while (!m_stop) {
            const auto result = m_client.pass_read(read, 50);
            if (result == PassReadResult::success) {
                read = make_read(++m_ledger.passed + 1);
            } else if (result != PassReadResult::queue_full) {
                return m_ledger.problem("pass_read refused a read: " + tamsu::to_string(result) +
                                        " " + m_client.get_error_message());
            }
            m_client.get_completed_reads(completed);
            m_ledger.record(completed);
        }
    }

    tamsu::TamsuClient& m_client;
    ReadLedger& m_ledger;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// One way for the server to misbehave for a while.
struct Fault {
    std::string name;
    std::vector<std::string> flags;
    bool forget_clients = false;  // SIGHUP again and again
};

const std::vector<Fault>& faults()
{
    static const std::vector<Fault> list{
            {"slow", {"--call-delay", "250", "--call-time", "2"}},
            {"not-ready", {"--max-reads-in-flight", "2"}},
            // Slow workers keep reads in the calling state, which a loss report must cover too.
            {"lose-reads", {"--lose-reads", "--call-time", "10"}},
            {"forget", {}, true},
            {"lose-reads-and-forget", {"--lose-reads", "--call-time", "10"}, true},
    };
    return list;
}

// The reads one NONE_PENDING(1) reply reported lost to one connection.
struct LossReport {
    std::vector<std::uint64_t> tags;
    bool acknowledged = false;  // the client sent another request after it
};

// Appends the reports of one server run's lost reads file to `reports`.
void read_lost_reads_file(const std::string& path, std::vector<LossReport>& reports,
                          std::vector<std::string>& problems)
{
    std::ifstream file(path);
    std::map<std::string, std::size_t> open_report;  // connection -> index in `reports`
    std::string text;
    std::getline(file, text, '\0');
    std::istringstream lines(text);
    // A kill may cut the last line short (no newline, so eof): that report never went out.
    for (std::string line; std::getline(lines, line) && !lines.eof();) {
        std::istringstream fields(line);
        std::string kind, connection, read_id;
        std::getline(fields, kind, '\t');
        std::getline(fields, connection, '\t');
        std::getline(fields, read_id);
        const auto found = open_report.find(connection);
        if (kind == "acknowledged" && found != open_report.end()) {
            reports[found->second].acknowledged = true;
            open_report.erase(found);
        } else if (kind == "reported" && tag_of(read_id) != 0) {
            if (found == open_report.end()) {
                open_report[connection] = reports.size();
                reports.emplace_back();
            }
            reports[open_report[connection]].tags.push_back(tag_of(read_id));
        } else {
            problems.push_back(path + ": unexpected line '" + line + "'");
        }
    }
}

// Fates of every read, indexed by tag: how often it was returned, and how often lost by a
// report the client acted on.
struct Accounting {
    std::vector<int> returned;
    std::vector<int> lost;
    std::size_t unacknowledged_reports = 0;
    std::size_t undelivered_reports = 0;
    std::vector<std::string> problems;
};

// An acknowledged report reached the client, which dropped all of its reads. An unacknowledged
// one either did too, or never arrived: then the client resent all of its reads, so each of them
// was returned or reported lost again later.
bool delivered(const std::vector<LossReport>& reports, std::size_t report,
               const std::vector<std::size_t>& last_report_of, Accounting& fates)
{
    if (reports[report].acknowledged) {
        return true;
    }
    ++fates.unacknowledged_reports;
    std::size_t again = 0;
    const auto& tags = reports[report].tags;
    for (const auto tag : tags) {
        again += fates.returned[tag] > 0 || last_report_of[tag] > report ? 1 : 0;
    }
    if (again != 0 && again != tags.size()) {
        fates.problems.push_back("only some reads of an unacknowledged loss report came back");
    }
    return again == 0;
}

void account_losses(std::vector<LossReport> reports, Accounting& fates)
{
    std::vector<std::size_t> last_report_of(fates.returned.size(), 0);
    for (std::size_t r = 0; r < reports.size(); ++r) {
        auto& tags = reports[r].tags;
        const auto unknown = std::stable_partition(
                tags.begin(), tags.end(), [&](auto tag) { return tag < last_report_of.size(); });
        if (unknown != tags.end()) {
            fates.problems.push_back("read " + std::to_string(*unknown) +
                                     " reported lost but never passed");
            tags.erase(unknown, tags.end());
        }
        for (const auto tag : tags) {
            last_report_of[tag] = r;
        }
    }
    for (std::size_t r = 0; r < reports.size(); ++r) {
        if (!delivered(reports, r, last_report_of, fates)) {
            ++fates.undelivered_reports;
            continue;
        }
        for (const auto tag : reports[r].tags) {
            ++fates.lost[tag];
        }
    }
}

Accounting account(const ReadLedger& ledger, const std::vector<std::string>& lost_reads_files)
{
    Accounting fates;
    fates.returned = ledger.returned;
    fates.returned.resize(ledger.passed + 1, 0);
    fates.lost.assign(fates.returned.size(), 0);
    fates.problems = ledger.problems;
    std::vector<LossReport> reports;
    for (const auto& path : lost_reads_files) {
        read_lost_reads_file(path, reports, fates.problems);
    }
    account_losses(reports, fates);
    for (std::uint64_t tag = 1; tag < fates.returned.size(); ++tag) {
        const auto fates_of_read = fates.returned[tag] + fates.lost[tag];
        if (fates_of_read != 1) {
            fates.problems.push_back("read " + std::to_string(tag) + " returned " +
                                     std::to_string(fates.returned[tag]) + " times, lost " +
                                     std::to_string(fates.lost[tag]) + " times");
        }
    }
    return fates;
}

std::size_t count_of(const std::vector<int>& counts)
{
    return static_cast<std::size_t>(
            std::count_if(counts.begin(), counts.end(), [](int count) { return count > 0; }));
}

class FaultSoakTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Reconnections and losses are the point here; only errors are worth printing.
        boost::log::core::get()->set_filter(boost::log::expressions::attr<std::string>("Channel") ==
                                            "error");
        ASSERT_TRUE(m_server.restart({}));
        m_before = resources();
    }

    void TearDown() override { boost::log::core::get()->reset_filter(); }

    std::unique_ptr<tamsu::TamsuClient> connected_client()
    {
        auto client = std::make_unique<tamsu::TamsuClient>(m_server.address, k_config);
        client->set_name("fault-soak");
        // A dead server is noticed after four waits.
        client->set_timeout(500);
        client->set_reconnect_timeout(120);
        client->set_block_size(400);
        client->set_max_reads_queued(16);
        client->set_state_change_handler(
                [this](ConnectionStatus, ConnectionStatus status, const std::string&) {
                    if (status == ConnectionStatus::connected) {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        ++m_connections;
                        m_reconnected.notify_all();
                    }
                });
        EXPECT_EQ(client->connect(), Result::success) << client->get_error_message();
        return client;
    }

    // Does `disrupt` and waits for the client to connect again.
    template <typename Disruption>
    void reconnect_after(Disruption disrupt)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto connections = m_connections;
        lock.unlock();
        ASSERT_TRUE(disrupt());
        lock.lock();
        ASSERT_TRUE(
                m_reconnected.wait_for(lock, 120s, [&] { return m_connections > connections; }));
    }

    // Kills the server and starts it with the fault's flags; the fault begins once the client
    // is back.
    void begin(const Fault& fault)
    {
        SCOPED_TRACE(fault.name);
        reconnect_after([&] { return m_server.restart(fault.flags); });
    }

    // Whether the soak may go on.
    bool run(const Fault& fault, std::chrono::milliseconds length)
    {
        const std::uint64_t passed = m_ledger.passed;
        const auto start = Clock::now();
        begin(fault);
        const auto end = Clock::now() + length;
        while (!HasFatalFailure() && Clock::now() < end) {
            std::this_thread::sleep_for(std::min<Clock::duration>(length / 4, end - Clock::now()));
            if (fault.forget_clients) {
                reconnect_after([&] { return m_server.process->send_signal(SIGHUP); });
                ++m_forgets;
            }
        }
        std::cout << "[ fault    ] " << fault.name << ": " << (Clock::now() - start) / 1ms
                  << " ms, " << m_ledger.passed - passed << " reads passed" << std::endl;
        return !HasFatalFailure() && !m_ledger.failed;
    }

    tamsu_test::TempDirectory m_directory;
    SoakServer m_server{m_directory};
    ReadLedger m_ledger;
    std::pair<std::size_t, std::size_t> m_before;
    int m_forgets = 0;
    std::mutex m_mutex;  // guards m_connections
    std::condition_variable m_reconnected;
    int m_connections = 0;  // arrivals at the connected status
};

TEST_F(FaultSoakTest, EveryReadIsReturnedOnceOrReportedLostAndNothingLeaks)
{
    const auto started = Clock::now();
    const auto end = started + soak_duration();
    std::mt19937 random(1);
    std::uniform_int_distribution<int> phase_ms(1500, 3000);
    {
        const auto client = connected_client();
        ASSERT_EQ(client->get_status(), ConnectionStatus::connected);
        Feeder feeder(*client, m_ledger);
        for (std::size_t phase = 0; phase < faults().size() || Clock::now() < end; ++phase) {
            const auto& fault = faults()[phase % faults().size()];
            if (!run(fault, std::chrono::milliseconds(phase_ms(random)))) {
                break;
            }
        }
        begin(Fault{"none", {}});
        feeder.stop();
        if (HasFatalFailure()) {
            return;
        }
        EXPECT_EQ(client->finish(120), Result::success) << client->get_error_message();
        std::list<Read> rest;
        client->get_completed_reads(rest);
        m_ledger.record(rest);
    }
    const auto give_up = Clock::now() + 60s;
    auto after = resources();
    for (; after != m_before && Clock::now() < give_up; after = resources()) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(after.first, m_before.first) << "threads left behind by the client";
    EXPECT_EQ(after.second, m_before.second) << "descriptors left behind by the client";

    const auto fates = account(m_ledger, m_server.lost_reads_files);
    const auto returned = count_of(fates.returned);
    const auto lost = count_of(fates.lost);
    std::cout << "[ soak     ] " << (Clock::now() - started) / 1s << " s: " << m_ledger.passed
              << " reads passed, " << returned << " returned, " << lost << " lost; "
              << m_server.kills << " kills, " << m_forgets << " forgets, " << m_connections
              << " connections; " << fates.unacknowledged_reports
              << " unacknowledged loss reports, " << fates.undelivered_reports
              << " of them never reached the client" << std::endl;
    EXPECT_GT(returned, 0u);
    EXPECT_GT(lost, 0u) << "the lose-reads faults lost nothing";
    const auto& problems = fates.problems;
    EXPECT_TRUE(problems.empty()) << problems.size()
                                  << " problems, the first: " << problems.front();
}

}  // namespace
