#pragma once

#include "client/result.h"
#include "client/tamsu_client.h"
#include "tools/basecall_options.h"
#include "tools/connection_watch.h"
#include "tools/raw_read.h"
#include "tools/reads_in_flight.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace tamsu_cli {

// The clients of one run, one per server, all configured alike, and the reads they have in
// flight. Each read goes to a client with room in its queue, so a faster server gets more. When
// a server is lost for good, or drops reads, its unfinished reads go to the other clients; every
// read is handed on once, however often it comes back. pass() is for the thread that reads the
// input; everything else for the run's own thread.
class ClientPool {
public:
    // Receives every read the first time it comes back.
    using Sink = std::function<void(const tamsu::Read&)>;
    // A server that was lost (or dropped reads) while it held reads.
    struct Loss {
        std::string server;
        bool server_lost = false;  // false: it dropped reads but kept the connection
        std::size_t reads_moved = 0;
    };

    struct Server {
        std::string address;
        std::string name;  // in messages: "server ADDRESS" or "the embedded server"
    };

    // One client per server, configured by the options. Throws std::runtime_error naming the
    // setter a client refused.
    ClientPool(const BasecallOptions& options, const std::vector<Server>& servers,
               std::ostream& err);
    // Ends every connection at once.
    ~ClientPool();
    ClientPool(const ClientPool&) = delete;
    ClientPool& operator=(const ClientPool&) = delete;

    std::size_t size() const { return m_members.size(); }
    tamsu::TamsuClient& client(std::size_t index) { return m_members.at(index)->client; }
    // The client's connect, watched (see ConnectionWatch).
    tamsu::Result connect(std::size_t index);

    // Passes the read to a client with room, waiting while every client is full or reads wait
    // to be passed again. False when `stop` was raised or no server is left. Throws
    // std::runtime_error when a client refuses the read itself.
    bool pass(RawRead read, const std::atomic<bool>& stop);

    // One turn of the run: collects the reads that came back, hands on the reads of lost
    // servers and, once `input_done`, finishes the clients. Returns how many reads came back.
    std::size_t step(bool input_done, const Sink& sink);
    // Every read passed is back and every client has finished.
    bool done() const;
    // Why the run cannot complete (no server left with reads still to call); empty otherwise.
    std::string failure() const;
    // Ends every connection at once and collects what came back.
    void stop(const Sink& sink);

    const std::vector<Loss>& losses() const { return m_losses; }
    // Per server: its name and how many reads it returned first.
    std::vector<std::pair<std::string, unsigned long>> reads_by_server() const;

private:
    enum class State { active, finishing, finished, lost };
    enum class Offer { passed, full, nobody };
    struct Member {
        Member(const Server& server, const std::string& config, std::ostream& err);

        std::string name;
        // Before the client, whose handler refers to it.
        ConnectionWatch watch;
        tamsu::TamsuClient client;
        State state = State::active;  // guarded by ClientPool::m_mutex
        std::future<tamsu::Result> finishing;
        // When a read last came back, or the input ended; the run's thread's.
        std::chrono::steady_clock::time_point last_back;
        unsigned long reads = 0;
        bool dropped = false;  // its server dropped reads
    };

    // Offers the read to the active clients in turn, starting after the last one that took one,
    // each waiting up to `wait_ms` for room.
    Offer offer(tamsu::Read& read, std::uint64_t tag, unsigned long wait_ms);
    State state(std::size_t index) const;
    std::size_t collect(std::size_t index, const Sink& sink);
    void check_connections(const Sink& sink);
    void check_finished(const Sink& sink);
    // After its connection ended: lost or finished, with its reads handed on.
    void settle(std::size_t index, const Sink& sink);
    void release(std::size_t index, bool server_lost);
    void resend();
    bool finishing() const;
    // A finished client takes reads again; false when none could.
    bool reopen();
    void finish_all();
    bool ready_to_finish(std::size_t index, std::chrono::steady_clock::time_point now) const;

    std::ostream& m_err;
    std::vector<std::unique_ptr<Member>> m_members;
    bool m_input_done = false;
    std::vector<Loss> m_losses;
    std::string m_last_error;
    // Guards m_in_flight, m_next and the members' states.
    mutable std::mutex m_mutex;
    ReadsInFlight m_in_flight;
    std::size_t m_next = 0;
};

}  // namespace tamsu_cli
