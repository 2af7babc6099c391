#pragma once

#include "basecall_service/abstract_read_processing_protocol.h"
#include "common/tracing/trace.h"
#include "interfaces/read_holder.h"
#include "ipc_tools/tamsu_ipc_generated.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace basecall_service {

class CalledReadAssembler;

// Keeps a connection alive, pushes the block messages of queued reads and pulls called reads
// back, reassembling each into its read's metadata and datasets.
class ReadProcessingProtocol : public AbstractReadProcessingProtocol,
                               private common::tracing::TraceDomain<ReadProcessingProtocol> {
public:
    ErrorState process_reads(ReadBuffer* read_buffer, RequestBrokerAdapter* broker) override;
    void stop() override;
    bool keep_alive() const;
    void set_connection_id(std::string id) override;
    void set_disable_events(bool disable_events) override;
    void set_pull_state_data(bool pull_state_data) override;

    // The outcome of the last exchange.
    const ErrorState& error_state() const { return m_error_state; }

    // Sends every block of the oldest queued read; false when the exchange failed.
    bool push_into_server(RequestBrokerAdapter* broker);
    // Fetches one called read; false when the exchange failed.
    bool pull_from_server(RequestBrokerAdapter* broker);

private:
    bool fail(ConnectionError code, std::string message);
    bool fetch_remaining_blocks(RequestBrokerAdapter* broker, std::uint32_t tag,
                                std::uint32_t num_blocks, CalledReadAssembler& assembler);
    bool store_alignments(const tamsu_ipc::CalledBlockData& first, interfaces::ReadHolder& read);

    ErrorState m_error_state;
    ReadBuffer* m_read_buffer = nullptr;
    bool m_disable_events = false;
    bool m_pull_state_data = false;
    std::string m_connection_id;
    mutable std::mutex m_mutex;  // guards m_stop
    bool m_stop = false;
};

}  // namespace basecall_service
