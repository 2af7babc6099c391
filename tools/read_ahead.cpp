#include "tools/read_ahead.h"

namespace tamsu_cli {

ReadAhead::ReadAhead(RawReadSource& source, std::size_t capacity)
        : m_source(source)
        , m_capacity(capacity == 0 ? 1 : capacity)
        , m_name(source.name())
{
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool ReadAhead::next(RawRead& read)
{
    // Started here rather than at construction: a source on standard input may block, and the
    // destructor could then not stop the thread before anything was asked of it.
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { decode(); });
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_queue.empty() || m_ended; });
    if (m_queue.empty()) {
        if (m_error) {
            std::rethrow_exception(m_error);
        }
        return false;
    }
    read = std::move(m_queue.front().read);
    m_name = std::move(m_queue.front().source_name);
    m_queue.pop_front();
    lock.unlock();
    m_changed.notify_all();
    return true;
}

bool ReadAhead::wait_for_room(std::unique_lock<std::mutex>& lock)
{
    m_changed.wait(lock, [this] { return m_queue.size() < m_capacity || m_stop; });
    return !m_stop;
}

void ReadAhead::decode()
{
    std::exception_ptr error;
    try {
        Decoded decoded;
        while (m_source.next(decoded.read)) {
            decoded.source_name = m_source.name();
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!wait_for_room(lock)) {
                return;
            }
            m_queue.push_back(std::move(decoded));
            lock.unlock();
            m_changed.notify_all();
            decoded = Decoded();
        }
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        m_error = error;
    }
    m_changed.notify_all();
}

}  // namespace tamsu_cli
