#pragma once

#include "tools/raw_read_source.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace tamsu_cli {

// Decodes the reads of another source on a thread of its own, up to `capacity` reads ahead of
// the caller, so that decoding overlaps with passing reads on. Hands out the same reads in the
// same order, then the source's error, if any, where it occurred. The thread starts with the
// first next() and belongs to this object; next() and name() belong to one thread.
class ReadAhead : public RawReadSource {
public:
    explicit ReadAhead(RawReadSource& source, std::size_t capacity = 4);
    // Stops the thread after the read in hand and joins it.
    ~ReadAhead() override;
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    bool next(RawRead& read) override;
    // The source's name when it decoded the last read handed out.
    const std::string& name() const override { return m_name; }

private:
    struct Decoded {
        RawRead read;
        std::string source_name;
    };

    void decode();
    // Waits for room in the queue; false when asked to stop.
    bool wait_for_room(std::unique_lock<std::mutex>& lock);

    RawReadSource& m_source;
    const std::size_t m_capacity;
    std::string m_name;

    std::mutex m_mutex;  // guards the four members below
    std::condition_variable m_changed;
    std::deque<Decoded> m_queue;
    bool m_ended = false;  // the source has no more reads, or failed
    std::exception_ptr m_error;
    bool m_stop = false;

    std::thread m_thread;
};

}  // namespace tamsu_cli
