#include "tools/client_pool.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace tamsu_cli {

namespace {

// How long the input waits for room in each client's queue once every one was full.
constexpr unsigned long k_full_wait_ms = 5;
// How long a client's reads may stay away, once the input ended, before it is finished with
// reads out. Its finish looks for them only at long intervals, which would hold up a short run;
// a server that drops reads still ends in the finish, which reports them.
constexpr auto k_finish_grace = std::chrono::milliseconds(100);

tamsu::Read make_read(const RawRead& raw, std::uint64_t tag)
{
    tamsu::Read read;
    read.set_read_tag(tag);
    auto& metadata = read.get_metadata();
    metadata.insert("read_id", raw.read_id);
    if (!raw.run_id.empty()) {
        // Stays with the read for its output records; it does not travel to the server.
        metadata.insert("run_id", raw.run_id);
    }
    metadata.insert("daq_offset", raw.daq_offset);
    metadata.insert("daq_scaling", raw.daq_scaling);
    // Borrowed, not copied: the raw read stays in flight, to be passed again if need be, until
    // the read is back, and no client reads the signal after that.
    read.get_datasets().emplace(
            interfaces::dataset::raw_data,
            vask::data_wrappers::DataView(raw.samples.data(), raw.samples.size()));
    return read;
}

std::runtime_error refusal(tamsu::TamsuClient& client, const tamsu::Read& read,
                           tamsu::PassReadResult result)
{
    std::string reason;
    client.validate_read(read, reason);
    return std::runtime_error("the client refused read " + read.get_by_name("read_id") + ": " +
                              tamsu::to_string(result) +
                              (reason.empty() ? "" : " (" + reason + ")"));
}

}  // namespace

ClientPool::Member::Member(const Server& server, const std::string& config, std::ostream& err)
        : name(server.name)
        , watch(server.name, err)
        , client(server.address, config)
{
}

ClientPool::ClientPool(const BasecallOptions& options, const std::vector<Server>& servers,
                       std::ostream& err)
        : m_err(err)
        // A read goes to each server at most once; a lone server is not asked twice.
        , m_in_flight(static_cast<unsigned>(std::max<std::size_t>(servers.size(), 1) - 1))
{
    for (const auto& server : servers) {
        m_members.push_back(std::make_unique<Member>(server, options.config, err));
        auto& client = m_members.back()->client;
        auto failed_setter = options.apply_to(client);
        if (failed_setter.empty() &&
            client.set_state_change_handler(m_members.back()->watch.handler()) !=
                    tamsu::Result::success) {
            failed_setter = "set_state_change_handler";
        }
        if (!failed_setter.empty()) {
            throw std::runtime_error("the client refused a parameter (" + failed_setter + ")");
        }
    }
}

ClientPool::~ClientPool()
{
    for (auto& member : m_members) {
        // Ends a finish in progress, whose future the member's destruction waits for.
        member->client.disconnect();
    }
}

tamsu::Result ClientPool::connect(std::size_t index)
{
    auto& member = *m_members.at(index);
    return member.watch.connect(member.client);
}

bool ClientPool::pass(RawRead raw, const std::atomic<bool>& stop)
{
    std::uint64_t tag = 0;
    tamsu::Read read;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        tag = m_in_flight.add(std::move(raw));
        read = make_read(m_in_flight.raw(tag), tag);
    }
    // First to any client with room at once; only when every one is full, waiting for room.
    for (unsigned long wait_ms = 0; !stop; wait_ms = k_full_wait_ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        // Reads to be passed again go first.
        const bool waiting = !m_in_flight.requeue_empty();
        lock.unlock();
        if (waiting) {
            std::this_thread::sleep_for(std::chrono::milliseconds(k_full_wait_ms));
            continue;
        }
        const auto offered = offer(read, tag, wait_ms);
        if (offered == Offer::passed) {
            return true;
        }
        if (offered == Offer::nobody) {
            break;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_in_flight.complete(tag);
    return false;
}

ClientPool::Offer ClientPool::offer(tamsu::Read& read, std::uint64_t tag, unsigned long wait_ms)
{
    std::size_t first = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        first = m_next;
    }
    bool anyone = false;
    for (std::size_t n = 0; n < m_members.size(); ++n) {
        const auto index = (first + n) % m_members.size();
        if (state(index) != State::active) {
            continue;
        }
        anyone = true;
        auto& client = m_members[index]->client;
        // 0 stands for the client's default wait, which this program leaves at none.
        const auto result = client.pass_read(read, wait_ms);
        if (result == tamsu::PassReadResult::invalid_read) {
            throw refusal(client, read, result);
        }
        if (result == tamsu::PassReadResult::success) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_in_flight.assign(tag, index);
            // Lost while the read went in: it was not among the reads handed on.
            if (m_members[index]->state == State::lost) {
                m_in_flight.release(index);
            }
            m_next = index + 1;
            return Offer::passed;
        }
        // Full, or no longer taking reads: the next one may.
    }
    return anyone ? Offer::full : Offer::nobody;
}

ClientPool::State ClientPool::state(std::size_t index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_members[index]->state;
}

std::size_t ClientPool::step(bool input_done, const Sink& sink)
{
    if (input_done && !m_input_done) {
        for (auto& member : m_members) {
            member->last_back = std::chrono::steady_clock::now();
        }
    }
    m_input_done = input_done;
    check_connections(sink);
    std::size_t count = 0;
    for (std::size_t index = 0; index < m_members.size(); ++index) {
        count += collect(index, sink);
    }
    check_finished(sink);
    resend();
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool finishing = input_done && m_in_flight.requeue_empty();
    if (finishing) {
        finish_all();
    }
    return count;
}

std::size_t ClientPool::collect(std::size_t index, const Sink& sink)
{
    auto& member = *m_members[index];
    std::list<tamsu::Read> reads;
    member.client.get_completed_reads(reads);
    if (!reads.empty()) {
        member.last_back = std::chrono::steady_clock::now();
    }
    std::size_t count = 0;
    for (const auto& read : reads) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool first = m_in_flight.complete(read.get_read_tag());
        lock.unlock();
        if (first) {
            sink(read);
            ++member.reads;
            ++count;
        }
    }
    return count;
}

void ClientPool::check_connections(const Sink& sink)
{
    for (std::size_t index = 0; index < m_members.size(); ++index) {
        auto& member = *m_members[index];
        const auto current = state(index);
        const auto status = member.client.get_status();
        // A finished client is disconnected, not reconnecting.
        if ((current == State::active || current == State::finishing) &&
            status != tamsu::ConnectionStatus::disconnected) {
            member.watch.report_reconnection(member.client);
        }
        // A finishing client is settled when its finish returns.
        if (current == State::active && status == tamsu::ConnectionStatus::error) {
            settle(index, sink);
        }
    }
}

void ClientPool::check_finished(const Sink& sink)
{
    for (std::size_t index = 0; index < m_members.size(); ++index) {
        auto& member = *m_members[index];
        if (state(index) == State::finishing &&
            member.finishing.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            member.finishing.get();
            settle(index, sink);
        }
    }
}

void ClientPool::settle(std::size_t index, const Sink& sink)
{
    auto& member = *m_members[index];
    const bool lost = member.client.get_status() == tamsu::ConnectionStatus::error;
    if (lost) {
        m_last_error = member.client.get_error_message();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        member.state = lost ? State::lost : State::finished;
    }
    // Reads completed before the end still count; whatever the client holds after them, its
    // server lost or dropped.
    collect(index, sink);
    release(index, lost);
}

void ClientPool::release(std::size_t index, bool server_lost)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto moved = m_in_flight.release(index);
    lock.unlock();
    const auto& name = m_members[index]->name;
    if (server_lost) {
        m_losses.push_back({name, true, moved});
        if (m_members.size() > 1) {
            m_err << "tamsu: lost " << name << " (" << m_last_error << "); " << moved
                  << " reads go to the other servers" << std::endl;
        }
    } else if (moved != 0) {
        m_members[index]->dropped = true;
        m_losses.push_back({name, false, moved});
        m_err << "tamsu: " << name << " lost " << moved << " reads; they are passed again"
              << std::endl;
    }
}

void ClientPool::resend()
{
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto tag = m_in_flight.next_requeued();
        if (!tag) {
            return;
        }
        auto read = make_read(m_in_flight.raw(*tag), *tag);
        lock.unlock();
        const auto offered = offer(read, *tag, 0);
        // A client still finishing may be a better choice once it is done.
        if (offered == Offer::full || (offered == Offer::nobody && (finishing() || !reopen()))) {
            return;
        }
    }
}

bool ClientPool::finishing() const
{
    for (std::size_t index = 0; index < m_members.size(); ++index) {
        if (state(index) == State::finishing) {
            return true;
        }
    }
    return false;
}

bool ClientPool::reopen()
{
    // A server that dropped reads is the last choice to take them again.
    std::vector<std::size_t> order;
    for (std::size_t index = 0; index < m_members.size(); ++index) {
        if (state(index) == State::finished) {
            order.insert(m_members[index]->dropped ? order.end() : order.begin(), index);
        }
    }
    for (const auto index : order) {
        const bool connected = connect(index) == tamsu::Result::success;
        if (!connected) {
            m_last_error = m_members[index]->client.get_error_message();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_members[index]->state = connected ? State::active : State::lost;
        if (connected) {
            return true;
        }
    }
    return false;
}

// Requires m_mutex.
bool ClientPool::ready_to_finish(std::size_t index, std::chrono::steady_clock::time_point now) const
{
    const auto& member = *m_members[index];
    return member.state == State::active &&
           (!m_in_flight.holds_any(index) || now - member.last_back >= k_finish_grace);
}

// Requires m_mutex.
void ClientPool::finish_all()
{
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t index = 0; index < m_members.size(); ++index) {
        auto& member = m_members[index];
        if (ready_to_finish(index, now)) {
            member->state = State::finishing;
            member->finishing = std::async(std::launch::async,
                                           [&client = member->client] { return client.finish(0); });
        }
    }
}

bool ClientPool::done() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_input_done || !m_in_flight.empty()) {
        return false;
    }
    for (const auto& member : m_members) {
        if (member->state == State::active || member->state == State::finishing) {
            return false;
        }
    }
    return true;
}

std::string ClientPool::failure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto given_up = m_in_flight.given_up();
    const bool all_back = m_input_done && m_in_flight.empty() && given_up == 0;
    const bool all_lost = std::all_of(m_members.begin(), m_members.end(), [](const auto& member) {
        return member->state == State::lost;
    });
    if (all_lost && !all_back) {
        return (m_members.size() == 1 ? "the connection failed: "
                                      : "every server was lost, the last with ") +
               m_last_error;
    }
    return given_up == 0 ? ""
                         : std::to_string(given_up) +
                                   " reads were lost by every server they were passed to";
}

void ClientPool::stop(const Sink& sink)
{
    for (std::size_t index = 0; index < m_members.size(); ++index) {
        auto& member = *m_members[index];
        member.client.disconnect();
        if (member.finishing.valid()) {
            member.finishing.wait();
        }
        collect(index, sink);
    }
}

std::vector<std::pair<std::string, unsigned long>> ClientPool::reads_by_server() const
{
    std::vector<std::pair<std::string, unsigned long>> counts;
    for (const auto& member : m_members) {
        counts.emplace_back(member->name, member->reads);
    }
    return counts;
}

}  // namespace tamsu_cli
