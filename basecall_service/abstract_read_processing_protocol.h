#pragma once

#include "basecall_service/client_status.h"

#include <string>

namespace basecall_service {

class ReadBuffer;
class RequestBrokerAdapter;

// The read traffic of one connection, so the worker can be tested against a stand-in.
class AbstractReadProcessingProtocol {
public:
    virtual ~AbstractReadProcessingProtocol() = default;
    // Pushes queued reads and pulls called ones until stopped (no_error) or an exchange fails.
    // Worker thread only.
    virtual ErrorState process_reads(ReadBuffer* read_buffer, RequestBrokerAdapter* broker) = 0;
    // Makes a running process_reads return at its next turn, and every later one at once. Any
    // thread.
    virtual void stop() = 0;
    // Configuration; never while process_reads runs.
    virtual void set_connection_id(std::string id) = 0;
    virtual void set_disable_events(bool disable_events) = 0;
    virtual void set_pull_state_data(bool pull_state_data) = 0;
};

}  // namespace basecall_service
