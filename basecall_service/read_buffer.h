#pragma once

#include "basecall_service/pass_read_result.h"
#include "common/diagnostics/state/state_provider.h"
#include "common/synchronisation/latch.h"
#include "common/tracing/trace.h"
#include "interfaces/read_holder.h"
#include "ipc_tools/message.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace basecall_service {

// Where host threads and the worker meet: reads waiting to be sent (with their block messages
// built on the host's thread), reads the server has accepted, and finished reads waiting for the
// host. Host-side and worker-side operations may run concurrently; everything but the two
// setters and next_read_messages takes the buffer's one lock.
class ReadBuffer : public common::diagnostics::state::StateProvider,
                   private common::tracing::TraceDomain<ReadBuffer> {
public:
    ReadBuffer() = default;
    // Closes the buffer and waits until no host thread is inside queue_read any more.
    ~ReadBuffer() override;
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;

    // Host side.

    // Takes the read (leaving `read` cleared): success. Otherwise `read` is untouched and the
    // result says why: not_accepting_reads when the buffer is closed, queue_full when the input
    // queue stayed full for `timeout_ms`, invalid_read when a read with the same tag is queued
    // or submitted (decided in the same step that would queue it).
    // Reads shorter than 20 model strides go straight to the output queue. Throws
    // std::out_of_range / std::runtime_error for missing metadata or raw signal.
    PassReadResult queue_read(interfaces::ReadHolder& read, unsigned long timeout_ms);
    // Whether a read with this tag is queued or submitted.
    bool is_in_flight(std::uint64_t tag) const;
    // Appends every finished read to `reads`, in order.
    void get_reads_out(std::list<std::unique_ptr<interfaces::ReadHolder>>& reads);
    // Refuses every later read and releases waiting callers.
    void set_no_more_data();
    // Before the buffer is shared only.
    void set_block_size(std::size_t block_size);
    void set_max_input_queue_size(std::size_t max_size);

    // Worker side.

    std::size_t num_queued_reads() const;
    std::size_t num_submitted_reads() const;
    // No read queued or submitted (finished reads do not count).
    bool all_reads_processed() const;
    // Waits up to `timeout` for a read to be queued or submitted, returning at once when one is
    // already, or for wake_worker(); whether a read is there. Lets an idle worker start on a
    // read as soon as it is passed, and sleep otherwise.
    bool wait_for_reads(std::chrono::steady_clock::duration timeout);
    // Any thread: ends the worker's wait in progress, or else its next one, at once.
    void wake_worker();
    // The oldest queued read's block messages. Only while a read is queued, and only from the
    // one worker thread, which is the only remover.
    std::vector<ipc_tools::Message>& next_read_messages();
    // The server accepted every block of the oldest queued read.
    void read_submitted();
    // The submitted read with this tag, or null.
    interfaces::ReadHolder* get_submitted_read_holder(std::uint64_t tag) const;
    // Moves a submitted read to the output queue; throws std::out_of_range for an unknown tag.
    void read_retrieved(std::uint64_t tag);
    void put_read_on_output_queue(interfaces::ReadHolder& read);
    // Drops every submitted read (the server lost them).
    void clear_submitted_reads();

    // After every (re)connection: the new id goes into every block message, and every read in
    // flight is queued again, submitted ones first.
    void set_connection_id(std::string id);

    void report_state(common::diagnostics::state::StateLogger& logger) const override;

private:
    // Lets tests see how many host threads are inside queue_read.
    friend class ReadBufferTestAccess;

    using ReadQueue = std::deque<std::unique_ptr<interfaces::ReadHolder>>;

    // Cuts the read into its block messages, each carrying `connection_id`. Reads no member but
    // m_block_size, so host threads can run it without the lock.
    std::vector<ipc_tools::Message> create_messages(const interfaces::ReadHolder& read,
                                                    const std::string& connection_id) const;
    void queue_reads(ReadQueue& reads);       // requires m_mutex
    bool in_flight(std::uint64_t tag) const;  // requires m_mutex
    void queue_read_impl(interfaces::ReadHolder& read,
                         std::vector<ipc_tools::Message> messages);  // requires m_mutex

    // Guards everything below except m_max_input_queue_size and m_block_size.
    mutable std::mutex m_mutex;
    std::condition_variable m_space_or_closed;
    std::condition_variable m_read_queued;
    ReadQueue m_queued_reads;
    std::map<std::uint64_t, std::unique_ptr<interfaces::ReadHolder>> m_submitted_reads;
    std::list<std::vector<ipc_tools::Message>> m_message_queue_in;
    std::list<std::unique_ptr<interfaces::ReadHolder>> m_reads_out;
    std::size_t m_max_input_queue_size = 0;
    std::size_t m_block_size = 50000;
    std::string m_connection_id;
    bool m_no_more_data = false;
    bool m_wake_requested = false;
    std::uint64_t m_callers_inside = 0;
    std::shared_ptr<common::synchronisation::Latch> m_exit_latch =
            std::make_shared<common::synchronisation::Latch>(0);
};

}  // namespace basecall_service
