#pragma once

#include "server/basecall_server.h"
#include "server/client_registry.h"
#include "server/loaded_files.h"
#include "server/lost_reads_log.h"

#include <cstdint>
#include <mutex>

namespace reference_server {

// What the serving thread, the worker threads and the public calls of one server share.
// `mutex` guards every other member, and the job queue of the ReadPipeline too; it is never
// held across a socket send.
struct ServerState {
    explicit ServerState(const ServerOptions& options)
            : faults(options.faults)
            , clients(options.max_clients)
            , lost_reads_log(options.lost_reads_file)
    {
    }

    mutable std::mutex mutex;
    FaultSettings faults;
    ServerCounters counters;
    LoadedFiles files;
    ClientRegistry clients;
    LostReadsLog lost_reads_log;
    std::uint64_t requests_received = 0;
};

}  // namespace reference_server
