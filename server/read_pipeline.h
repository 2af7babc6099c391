#pragma once

#include "ipc_tools/message.h"
#include "server/server_state.h"

#include <boost/optional.hpp>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace reference_server {

// Takes a client's reads in raw block by raw block and has them called by a pool of worker
// threads; a called read waits in its client's state until it is fetched (see ReadReturns).
// Every function but start and stop is called with the state lock held; the workers take that
// lock to take a job and to hand its result back, and call without it.
class ReadPipeline {
public:
    using Clock = std::chrono::steady_clock;

    explicit ReadPipeline(ServerState& state);
    ~ReadPipeline() { stop(); }
    ReadPipeline(const ReadPipeline&) = delete;
    ReadPipeline& operator=(const ReadPipeline&) = delete;

    // Starts `worker_count` workers (at least one).
    void start(std::size_t worker_count);
    // Stops and joins the workers; reads still queued are never called. Idempotent.
    void stop();
    std::size_t worker_count() const { return m_workers.size(); }

    // The reply to PASS_FIRST_RAW_BLOCK or PASS_NEXT_RAW_BLOCK from `sender` (null: not
    // recognised).
    ipc_tools::Message raw_block(const tamsu_ipc::MessageData& data, ipc_tools::MessageType type,
                                 ClientState* sender);
    // Drops every client past its idle limit at `now`, with its reads still waiting for a worker;
    // those being called are dropped when they complete.
    void expire_idle_clients(Clock::time_point now);

private:
    // Everything a worker needs to call one read, copied so that it does not touch client state.
    struct CallJob {
        std::string client_id;
        std::uint64_t number = 0;  // tells the job's read apart once its client dropped it
        IncomingRead read;
        CallSettings call;
        Clock::time_point received_at;
        std::chrono::milliseconds call_time{0};
    };

    // The first block of a read starts it, the next ones must follow in order; a refusal is
    // the reply.
    boost::optional<ipc_tools::Message> start_read(const tamsu_ipc::ReadBlockData& block,
                                                   ClientState& client);
    static boost::optional<ipc_tools::Message>
    check_next_block(const tamsu_ipc::ReadBlockData& block, const ClientState& client);
    void add_block(const tamsu_ipc::ReadBlockData& block, ClientState& client);
    void finish_receiving(ClientState& client, IncomingRead read);
    void complete(CallJob& job, std::shared_ptr<CompletedRead> done);
    void work();
    static std::shared_ptr<CompletedRead> call(const CallJob& job);

    ServerState& m_state;
    // Guarded by the state lock, as the rest of this class.
    std::deque<CallJob> m_jobs;
    std::uint64_t m_next_job_number = 1;
    bool m_stopping = false;
    std::condition_variable m_jobs_changed;
    std::vector<std::thread> m_workers;
};

}  // namespace reference_server
