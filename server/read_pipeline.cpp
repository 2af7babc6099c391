#include "server/read_pipeline.h"

#include "common/logger.h"
#include "server/barcoder.h"
#include "server/server_reply.h"
#include "vask/util/set_thread_name.h"

#include <malloc.h>

#include <algorithm>
#include <set>

namespace reference_server {

using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

constexpr std::size_t k_max_reserved_samples = std::size_t{1} << 24;

std::size_t sample_count(const tamsu_ipc::ReadBlockData& block)
{
    return block.raw_data() != nullptr ? block.raw_data()->size() : 0;
}

}  // namespace

ReadPipeline::ReadPipeline(ServerState& state)
        : m_state(state)
{
}

void ReadPipeline::start(std::size_t worker_count)
{
    for (std::size_t i = 0; i < std::max<std::size_t>(worker_count, 1); ++i) {
        m_workers.emplace_back([this] { work(); });
    }
}

void ReadPipeline::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        m_stopping = true;
    }
    m_jobs_changed.notify_all();
    for (auto& worker : m_workers) {
        if (worker.joinable()) {
            worker.join();
        }
    }
}

void ReadPipeline::expire_idle_clients(Clock::time_point now)
{
    const auto expired = m_state.clients.expire(now);
    if (expired.empty()) {
        return;
    }
    TAMSU_LOG(info, expired.size() << " idle client(s) expired");
    const std::set<std::string> gone(expired.begin(), expired.end());
    m_jobs.erase(
            std::remove_if(m_jobs.begin(), m_jobs.end(),
                           [&gone](const CallJob& job) { return gone.count(job.client_id) > 0; }),
            m_jobs.end());
    // Their state lay scattered over the heap between live allocations: without a trim the
    // process would keep its peak size although the memory is free.
    malloc_trim(0);
}

Message ReadPipeline::raw_block(const tamsu_ipc::MessageData& data, MessageType type,
                                ClientState* sender)
{
    const auto* block = data.content_as_ReadBlockData();
    if (block == nullptr) {
        return reply(MessageType::BAD_REQUEST, 0, "Raw block without block data");
    }
    if (data.connection_id() == nullptr || data.connection_id()->size() == 0) {
        return reply(MessageType::BAD_REQUEST, 0, "Raw block without a connection id");
    }
    if (sender == nullptr) {
        return reply(MessageType::CLIENT_NOT_RECOGNISED);
    }
    auto& client = *sender;
    auto refused = type == MessageType::PASS_FIRST_RAW_BLOCK ? start_read(*block, client)
                                                             : check_next_block(*block, client);
    if (refused) {
        return std::move(*refused);
    }
    add_block(*block, client);
    return reply(MessageType::RAW_BLOCK_ACCEPTED);
}

boost::optional<Message> ReadPipeline::start_read(const tamsu_ipc::ReadBlockData& block,
                                                  ClientState& client)
{
    const auto tag = block.read_tag();
    if (block.block_index() != 0 || block.num_blocks() == 0) {
        return reply(MessageType::BAD_REQUEST, 0,
                     "First raw block of read " + std::to_string(tag) +
                             " must have block index 0 and at least one block");
    }
    // A repeated first block restarts the read.
    client.receiving.erase(tag);
    const auto limit = m_state.faults.max_reads_in_flight;
    if (limit > 0 && client.reads_in_flight() >= limit) {
        return reply(MessageType::NOT_READY);
    }
    IncomingRead read;
    read.read_tag = tag;
    read.read_id = block.read_id() != nullptr ? block.read_id()->str() : std::string();
    read.num_blocks = block.num_blocks();
    read.duration = block.duration();
    read.daq_offset = block.daq_offset();
    read.daq_scaling = block.daq_scaling();
    if (const auto* scaling = block.scaling_override()) {
        read.scaling_override = ScalingOverride{scaling->median(), scaling->med_abs_dev()};
    }
    // The duration comes from the peer: trust it only up to a sane size.
    if (!m_state.faults.zero_work) {
        read.samples.reserve(std::min<std::size_t>(
                std::max<std::size_t>(read.duration, sample_count(block)), k_max_reserved_samples));
    }
    client.receiving.emplace(tag, std::move(read));
    return boost::none;
}

boost::optional<Message> ReadPipeline::check_next_block(const tamsu_ipc::ReadBlockData& block,
                                                        const ClientState& client)
{
    const auto tag = block.read_tag();
    const auto receiving = client.receiving.find(tag);
    if (receiving == client.receiving.end()) {
        return reply(MessageType::BAD_REQUEST, 0,
                     "Raw block for read " + std::to_string(tag) +
                             " whose first block was not received");
    }
    if (block.block_index() != receiving->second.next_block) {
        return reply(MessageType::BAD_REQUEST, 0,
                     "Raw block " + std::to_string(block.block_index()) + " of read " +
                             std::to_string(tag) + " out of order, expected " +
                             std::to_string(receiving->second.next_block));
    }
    return boost::none;
}

void ReadPipeline::add_block(const tamsu_ipc::ReadBlockData& block, ClientState& client)
{
    const auto tag = block.read_tag();
    const auto samples = sample_count(block);
    auto& read = client.receiving.at(tag);
    // Without calling the signal is never looked at, so it is not kept either.
    if (samples > 0 && !m_state.faults.zero_work) {
        const auto* data = block.raw_data()->data();
        read.samples.insert(read.samples.end(), data, data + samples);
    }
    read.block_samples.push_back(static_cast<std::uint32_t>(samples));
    ++read.next_block;
    if (read.next_block == read.num_blocks) {
        auto finished = std::move(read);
        client.receiving.erase(tag);
        finish_receiving(client, std::move(finished));
    }
}

void ReadPipeline::finish_receiving(ClientState& client, IncomingRead read)
{
    ++m_state.counters.reads_received;
    CallJob job;
    job.client_id = client.id;
    job.number = m_next_job_number++;
    job.call = client.call;
    job.received_at = Clock::now();
    job.call_time = m_state.faults.call_time;
    client.calling.emplace(job.number, read.read_id);
    job.read = std::move(read);
    if (m_state.faults.zero_work) {
        auto done = std::make_shared<CompletedRead>();
        done->result = ToyCaller::empty_result(job.read.sample_total(), *job.call.config);
        done->blocks.assign(job.read.block_samples.size(), BlockRange{});
        complete(job, std::move(done));
        return;
    }
    m_jobs.push_back(std::move(job));
    m_jobs_changed.notify_one();
}

void ReadPipeline::complete(CallJob& job, std::shared_ptr<CompletedRead> done)
{
    const auto& read = job.read;
    done->read_tag = read.read_tag;
    done->read_id = read.read_id;
    done->duration = read.duration;
    done->daq_offset = read.daq_offset;
    done->daq_scaling = read.daq_scaling;
    done->ready_at = job.received_at + m_state.faults.call_delay;
    auto& counters = m_state.counters;
    ++counters.reads_called;
    counters.samples_called += read.sample_total();
    counters.bases_called += done->result.sequence.size();

    auto* const owner = m_state.clients.find(job.client_id);
    if (owner == nullptr) {
        return;  // the client went away while its read was being called
    }
    auto& client = *owner;
    if (client.calling.erase(job.number) == 0) {
        return;  // reported lost while it was being called
    }
    if (m_state.faults.lose_reads) {
        client.lost.push_back(read.read_id);
        return;
    }
    client.completed.push_back(std::move(done));
}

void ReadPipeline::work()
{
    vask::util::set_thread_name("toy_caller");
    std::unique_lock<std::mutex> lock(m_state.mutex);
    while (true) {
        m_jobs_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping) {
            return;
        }
        auto job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();

        auto done = call(job);
        std::this_thread::sleep_for(job.call_time);
        lock.lock();
        complete(job, std::move(done));
    }
}

std::shared_ptr<CompletedRead> ReadPipeline::call(const CallJob& job)
{
    auto done = std::make_shared<CompletedRead>();
    try {
        const auto& read = job.read;
        done->result = ToyCaller::call(read.samples, read.daq_offset, read.daq_scaling,
                                       *job.call.config, CallFlags{}, read.scaling_override);
        done->blocks = ToyCaller::block_ranges(done->result, read.block_samples);
        if (!job.call.kits.empty()) {
            done->barcoding = assign_barcode(job.call.kits, job.call.lamp, job.call.trim_barcodes,
                                             read.read_id, done->result.sequence);
        }
        if (job.call.index) {
            done->alignments = align_exact(*job.call.index, job.call.bed.get(), read.read_id,
                                           done->result.sequence, done->result.qstring,
                                           done->result.total_events);
        }
    } catch (const std::exception& error) {
        TAMSU_LOG(error, "calling read " << job.read.read_id << " failed: " << error.what());
        done->result = ToyCaller::empty_result(static_cast<std::uint32_t>(job.read.samples.size()),
                                               *job.call.config);
        done->blocks.assign(job.read.block_samples.size(), BlockRange{});
    }
    return done;
}

}  // namespace reference_server
