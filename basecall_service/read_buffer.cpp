#include "basecall_service/read_buffer.h"

#include "common/contract.h"
#include "ipc_tools/protocol_version.h"

#include <gsl/util>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

TAMSU_HFTRACE_DOMAIN(basecall_service, ReadBuffer)

namespace basecall_service {

namespace {

using FrequentTrace = common::tracing::TraceDomainHelper<hftrace::basecall_service::ReadBuffer>;
using vask::data_wrappers::Metadata;

// Reads shorter than this many model strides are too short to call; they go straight back.
constexpr unsigned long k_min_strides_to_call = 20;

// Beyond its samples and the two ids, a block message needs at most this much: tables, vtables,
// string headers, alignment and the builder's scratch space (179 bytes at most, measured).
// Sizing the builder up front means it never grows, so the samples are copied exactly once.
constexpr std::size_t k_block_envelope_bytes = 256;

// Keeps the deadline arithmetic clear of overflow for callers that pass "forever".
constexpr unsigned long k_longest_wait_ms = 10ul * 365 * 24 * 60 * 60 * 1000;

template <typename T>
const T& required_value(const Metadata& metadata, const std::string& key)
{
    T* value = nullptr;
    if (!metadata.extract(key, value)) {
        throw std::out_of_range("Key '" + key + "' not found.");
    }
    return *value;
}

float optional_float(const Metadata& metadata, const std::string& key)
{
    float* value = nullptr;
    return metadata.extract(key, value) ? *value : 0.0f;
}

std::string size_text(const char* label, std::size_t size)
{
    return label + std::to_string(size);
}

}  // namespace

ReadBuffer::~ReadBuffer()
{
    const auto trace = create_trace("~ReadBuffer");
    std::shared_ptr<common::synchronisation::Latch> exit_latch;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_no_more_data = true;
        exit_latch = std::make_shared<common::synchronisation::Latch>(m_callers_inside);
        m_exit_latch = exit_latch;
    }
    m_space_or_closed.notify_all();
    // Host threads still inside queue_read use the mutex; it must outlive them.
    exit_latch->wait();
}

PassReadResult ReadBuffer::queue_read(interfaces::ReadHolder& read, unsigned long timeout_ms)
{
    const auto& metadata = read.get_metadata();
    const auto duration = metadata.get<vask::data_wrappers::read_data::duration>();
    const auto stride = metadata.get<vask::data_wrappers::basecall_data::model_stride>();
    if (stride * k_min_strides_to_call > duration) {
        put_read_on_output_queue(read);
        return PassReadResult::success;
    }

    // Cutting the read is the expensive part, so it happens outside the lock with the id of the
    // moment; a reconnection in between is caught below.
    std::string connection_id;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        connection_id = m_connection_id;
    }
    auto messages = create_messages(read, connection_id);

    // Counted down only once the mutex is released: as soon as the destructor sees the count
    // reach 0 it destroys the mutex.
    std::shared_ptr<common::synchronisation::Latch> exit_latch;
    const auto count_down = gsl::finally([&exit_latch] {
        if (exit_latch) {
            exit_latch->count_down();
        }
    });

    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_no_more_data) {
        return PassReadResult::not_accepting_reads;
    }
    ++m_callers_inside;
    const auto leave = gsl::finally([this, &exit_latch] {
        --m_callers_inside;
        exit_latch = m_exit_latch;
    });

    if (m_queued_reads.size() >= m_max_input_queue_size) {
        const auto deadline = std::chrono::system_clock::now() +
                              std::chrono::milliseconds(std::min(timeout_ms, k_longest_wait_ms));
        while (!m_no_more_data && m_queued_reads.size() >= m_max_input_queue_size) {
            if (m_space_or_closed.wait_until(lock, deadline) == std::cv_status::timeout) {
                if (m_queued_reads.size() >= m_max_input_queue_size) {
                    return PassReadResult::queue_full;
                }
                break;
            }
        }
    }
    if (m_no_more_data) {
        return PassReadResult::not_accepting_reads;
    }

    // Replies are matched by tag: a second read with the tag of one in flight would take its
    // place.
    if (in_flight(read.get_read_tag())) {
        return PassReadResult::invalid_read;
    }
    if (connection_id != m_connection_id) {
        messages = create_messages(read, m_connection_id);
    }
    queue_read_impl(read, std::move(messages));
    return PassReadResult::success;
}

bool ReadBuffer::is_in_flight(std::uint64_t tag) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return in_flight(tag);
}

bool ReadBuffer::in_flight(std::uint64_t tag) const
{
    return m_submitted_reads.count(tag) != 0 ||
           std::any_of(m_queued_reads.begin(), m_queued_reads.end(),
                       [tag](const auto& read) { return read->get_read_tag() == tag; });
}

void ReadBuffer::queue_read_impl(interfaces::ReadHolder& read,
                                 std::vector<ipc_tools::Message> messages)
{
    auto holder = std::make_unique<interfaces::ReadHolder>(std::move(read));
    try {
        m_message_queue_in.push_back(std::move(messages));
        try {
            m_queued_reads.push_back(std::move(holder));
        } catch (...) {
            m_message_queue_in.pop_back();
            throw;
        }
    } catch (...) {
        // The caller keeps its read whenever queueing fails.
        read = std::move(*holder);
        throw;
    }
    FrequentTrace::write_trace(
            "queue_read", [size = m_queued_reads.size()] { return size_text("Queued: ", size); });
    m_read_queued.notify_one();
}

void ReadBuffer::queue_reads(ReadQueue& reads)
{
    for (auto& read : reads) {
        queue_read_impl(*read, create_messages(*read, m_connection_id));
    }
}

std::vector<ipc_tools::Message> ReadBuffer::create_messages(const interfaces::ReadHolder& read,
                                                            const std::string& connection_id) const
{
    const auto& metadata = read.get_metadata();
    const auto duration = metadata.get<vask::data_wrappers::read_data::duration>();
    const auto stride = metadata.get<vask::data_wrappers::basecall_data::model_stride>();
    const auto samples_per_block = stride * m_block_size;
    common::contract::expects(samples_per_block > 0,
                              "A block must hold at least one sample (model stride and block "
                              "size must be set).");
    const auto num_blocks = duration / samples_per_block + (duration % samples_per_block ? 1 : 0);

    const auto& read_id = required_value<std::string>(metadata, "read_id");
    const auto daq_offset = required_value<float>(metadata, "daq_offset");
    const auto daq_scaling = required_value<float>(metadata, "daq_scaling");

    bool* override_flag = nullptr;
    const bool scaling_override =
            metadata.extract("scaling_override", override_flag) && *override_flag;
    const auto override_median = optional_float(metadata, "scaling_override_median");
    const auto override_mad = optional_float(metadata, "scaling_override_med_abs_dev");

    std::vector<ipc_tools::Message> messages;
    if (num_blocks == 0) {
        return messages;
    }
    const auto& raw_view = read.get_datasets().at(interfaces::dataset::raw_data);
    const auto* samples = raw_view.get_array<std::int16_t>();
    common::contract::expects(raw_view.element_count >= duration,
                              "The raw signal is shorter than the read's duration.");

    // The wire carries 32-bit tags and durations.
    const auto read_tag = static_cast<std::uint32_t>(read.get_read_tag());
    const auto wire_duration = static_cast<std::uint32_t>(duration);
    messages.reserve(num_blocks);
    for (unsigned long block = 0; block < num_blocks; ++block) {
        const auto offset = block * samples_per_block;
        const auto count = std::min(samples_per_block, duration - offset);

        flatbuffers::FlatBufferBuilder builder(sizeof(std::int16_t) * count + read_id.size() +
                                               connection_id.size() + k_block_envelope_bytes);
        const auto raw_data = builder.CreateVector(samples + offset, count);
        flatbuffers::Offset<tamsu_ipc::ScalingOverrideData> override_data;
        if (scaling_override) {
            override_data =
                    tamsu_ipc::CreateScalingOverrideData(builder, override_median, override_mad);
        }
        const auto id = builder.CreateString(read_id);
        const auto type = block == 0 ? tamsu_ipc::ReadBlockType::PASS_FIRST_RAW_BLOCK
                                     : tamsu_ipc::ReadBlockType::PASS_NEXT_RAW_BLOCK;
        const auto content = tamsu_ipc::CreateReadBlockData(
                builder, type, read_tag, static_cast<std::uint32_t>(block),
                static_cast<std::uint32_t>(num_blocks), wire_duration, daq_offset, daq_scaling, id,
                raw_data, 0, override_data);

        flatbuffers::Offset<flatbuffers::String> connection;
        if (!connection_id.empty()) {
            connection = builder.CreateString(connection_id);
        }
        tamsu_ipc::MessageDataBuilder root(builder);
        root.add_content(content.Union());
        if (!connection.IsNull()) {
            root.add_connection_id(connection);
        }
        root.add_version(&ipc_tools::current_protocol_version());
        root.add_content_type(tamsu_ipc::MessageContent::ReadBlockData);
        builder.Finish(root.Finish(), ipc_tools::k_file_identifier);
        messages.emplace_back(builder);
    }
    return messages;
}

void ReadBuffer::get_reads_out(std::list<std::unique_ptr<interfaces::ReadHolder>>& reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_reads_out.empty()) {
        return;
    }
    FrequentTrace::write_trace("get_reads_out", [size = m_reads_out.size()] {
        return size_text("Completed: ", size);
    });
    reads.splice(reads.end(), m_reads_out);
}

void ReadBuffer::set_no_more_data()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_no_more_data = true;
    }
    m_space_or_closed.notify_all();
}

void ReadBuffer::set_block_size(std::size_t block_size)
{
    m_block_size = block_size;
    write_trace("set_block_size", [block_size] { return std::to_string(block_size); });
}

void ReadBuffer::set_max_input_queue_size(std::size_t max_size)
{
    m_max_input_queue_size = max_size;
    write_trace("set_max_input_queue_size", [max_size] { return std::to_string(max_size); });
}

std::size_t ReadBuffer::num_queued_reads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queued_reads.size();
}

std::size_t ReadBuffer::num_submitted_reads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_submitted_reads.size();
}

bool ReadBuffer::wait_for_reads(std::chrono::steady_clock::duration timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto has_reads = [this] { return !m_queued_reads.empty() || !m_submitted_reads.empty(); };
    m_read_queued.wait_for(lock, timeout, [&] { return m_wake_requested || has_reads(); });
    m_wake_requested = false;
    return has_reads();
}

void ReadBuffer::wake_worker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wake_requested = true;
    }
    m_read_queued.notify_one();
}

bool ReadBuffer::all_reads_processed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_submitted_reads.empty() && m_queued_reads.empty();
}

std::vector<ipc_tools::Message>& ReadBuffer::next_read_messages()
{
    // Safe without the lock: only this (worker) thread removes entries, and appending to a
    // list leaves existing elements where they are.
    return m_message_queue_in.front();
}

void ReadBuffer::read_submitted()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        common::contract::expects(!m_queued_reads.empty(), "No queued read to submit.");
        auto& read = m_queued_reads.front();
        m_submitted_reads[read->get_read_tag()] = std::move(read);
        m_queued_reads.pop_front();
        m_message_queue_in.pop_front();
        FrequentTrace::write_trace("read_submitted", [size = m_queued_reads.size()] {
            return size_text("Queued: ", size);
        });
        FrequentTrace::write_trace("read_submitted", [size = m_submitted_reads.size()] {
            return size_text("Submitted: ", size);
        });
    }
    m_space_or_closed.notify_all();
}

interfaces::ReadHolder* ReadBuffer::get_submitted_read_holder(std::uint64_t tag) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto entry = m_submitted_reads.find(tag);
    return entry == m_submitted_reads.end() ? nullptr : entry->second.get();
}

void ReadBuffer::read_retrieved(std::uint64_t tag)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& read = m_submitted_reads.at(tag);
    m_reads_out.push_back(std::move(read));
    m_submitted_reads.erase(tag);
    FrequentTrace::write_trace("read_retrieved", [size = m_submitted_reads.size()] {
        return size_text("Submitted: ", size);
    });
    FrequentTrace::write_trace("read_retrieved", [size = m_reads_out.size()] {
        return size_text("Retrieved: ", size);
    });
}

void ReadBuffer::put_read_on_output_queue(interfaces::ReadHolder& read)
{
    auto holder = std::make_unique<interfaces::ReadHolder>(std::move(read));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reads_out.push_back(std::move(holder));
    FrequentTrace::write_trace("put_read_on_output_queue", [size = m_reads_out.size()] {
        return size_text("Retrieved: ", size);
    });
}

void ReadBuffer::clear_submitted_reads()
{
    const auto trace = create_trace("clear_submitted_reads");
    decltype(m_submitted_reads) lost;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        lost.swap(m_submitted_reads);
    }
    // The reads (and their signal) are freed outside the lock.
}

void ReadBuffer::set_connection_id(std::string id)
{
    const auto trace = create_trace("set_connection_id");
    trace.message(id);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connection_id = std::move(id);

    // Everything in flight is resent from its first block, tagged with the new id.
    ReadQueue queued;
    queued.swap(m_queued_reads);
    m_message_queue_in.clear();

    ReadQueue submitted;
    for (auto& entry : m_submitted_reads) {  // ascending tag order
        submitted.push_back(std::move(entry.second));
    }
    m_submitted_reads.clear();

    trace.message([total = queued.size() + submitted.size()] {
        return size_text("requeuing reads, total: ", total);
    });
    queue_reads(submitted);
    queue_reads(queued);
}

void ReadBuffer::report_state(common::diagnostics::state::StateLogger& logger) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    logger.log("m_queued_reads (awaiting pushing to server)",
               static_cast<unsigned long>(m_queued_reads.size()));
    logger.log("m_message_queue_in (awaiting sending to server)",
               static_cast<unsigned long>(m_message_queue_in.size()));
    logger.log("m_submitted_reads (pushed to server not yet pulled)",
               static_cast<unsigned long>(m_submitted_reads.size()));
    logger.log("m_reads_out (output queue of reads from server)",
               static_cast<unsigned long>(m_reads_out.size()));
    logger.log("m_max_input_queue_size", static_cast<unsigned long>(m_max_input_queue_size));
    logger.log("m_block_size ", static_cast<unsigned long>(m_block_size));
    logger.log("m_connection_id ", m_connection_id);
}

}  // namespace basecall_service
