#include "tools/parallel_slow5_decoder.h"

#include <algorithm>

namespace tamsu_cli {

ParallelSlow5Decoder::ParallelSlow5Decoder(slow5_file& file, const std::string& path,
                                           const std::vector<std::string>& run_ids,
                                           std::size_t threads, std::size_t capacity)
        : m_file(file)
        , m_name(path)
        , m_slots(std::max<std::size_t>(capacity, 1))
{
    for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
        m_decoders.push_back(std::make_unique<Slow5RecordDecoder>(path, run_ids));
    }
    try {
        for (auto& decoder : m_decoders) {
            m_threads.emplace_back([this, &decoder = *decoder] { work(decoder); });
        }
    } catch (...) {
        stop();
        throw;
    }
}

ParallelSlow5Decoder::~ParallelSlow5Decoder()
{
    stop();
}

void ParallelSlow5Decoder::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_room.notify_all();
    for (auto& thread : m_threads) {
        thread.join();
    }
}

std::size_t ParallelSlow5Decoder::default_threads()
{
    // One core is left to the threads that pass the reads on and talk to the server: on two
    // cores a second decoding thread only contends with them.
    const auto cores = static_cast<std::size_t>(std::thread::hardware_concurrency());
    return std::clamp<std::size_t>(cores > 1 ? cores - 1 : 1, 1, 4);
}

bool ParallelSlow5Decoder::next(RawRead& read)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto& slot = m_slots[m_handed % m_slots.size()];
    m_ready.wait(lock, [&] { return slot.ready || (m_fetch_ended && m_handed == m_fetched); });
    if (!slot.ready) {
        return false;
    }
    if (slot.error) {
        std::rethrow_exception(slot.error);
    }
    read = std::move(slot.read);
    slot = Slot();
    ++m_handed;
    lock.unlock();
    m_room.notify_one();
    return true;
}

void ParallelSlow5Decoder::work(Slow5RecordDecoder& decoder)
{
    Slow5RecordBytes bytes;
    std::size_t index = 0;
    while (take(bytes, index)) {
        RawRead read;
        std::exception_ptr error;
        try {
            decoder.decode(std::move(bytes), index + 1, read);
        } catch (...) {
            error = std::current_exception();
        }
        put(index, std::move(read), error);
    }
}

bool ParallelSlow5Decoder::take(Slow5RecordBytes& bytes, std::size_t& index)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_room.wait(lock, [this] {
        return m_stop || m_fetch_ended || m_fetched < m_handed + m_slots.size();
    });
    if (m_stop || m_fetch_ended) {
        return false;
    }
    index = m_fetched;
    try {
        if (Slow5RecordDecoder::fetch(m_file, m_name, index + 1, bytes)) {
            ++m_fetched;
            return true;
        }
    } catch (...) {
        ++m_fetched;
        lock.unlock();
        put(index, {}, std::current_exception());
        return false;
    }
    m_fetch_ended = true;
    lock.unlock();
    m_ready.notify_one();
    m_room.notify_all();
    return false;
}

void ParallelSlow5Decoder::put(std::size_t index, RawRead read, std::exception_ptr error)
{
    bool awaited = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& slot = m_slots[index % m_slots.size()];
        slot.ready = true;
        slot.read = std::move(read);
        slot.error = error;
        // Nothing after a failure is handed out, so nothing more is fetched.
        m_fetch_ended = m_fetch_ended || error;
        awaited = index == m_handed;
    }
    // next() waits for one record only.
    if (awaited) {
        m_ready.notify_one();
    }
    if (error) {
        m_room.notify_all();
    }
}

}  // namespace tamsu_cli
