#pragma once

#include "tools/raw_read.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>

namespace tamsu_cli {

// The reads passed to servers and not back yet, each under its tag with the client that holds
// it, so that the reads of a client that lost its server can be passed to another. A read
// counts once: whatever comes back for a tag after its first return is recognised as a repeat.
// Not thread-safe.
class ReadsInFlight {
public:
    static constexpr std::size_t k_nobody = static_cast<std::size_t>(-1);

    // A read released more than `max_releases` times is given up.
    explicit ReadsInFlight(unsigned max_releases);

    // Keeps the read under a new tag, held by nobody yet.
    std::uint64_t add(RawRead read);
    const RawRead& raw(std::uint64_t tag) const;
    // `holder` has the read now; a read already back stays forgotten.
    void assign(std::uint64_t tag, std::size_t holder);
    // Forgets the read. True the first time its tag comes back, false for a repeat.
    bool complete(std::uint64_t tag);
    // Queues every read `holder` has to be passed again, or gives it up; returns how many
    // were queued.
    std::size_t release(std::size_t holder);
    // The oldest read queued again; it stays first until assigned.
    std::optional<std::uint64_t> next_requeued() const;

    bool empty() const { return m_reads.empty(); }
    // Whether `holder` has a read not back yet.
    bool holds_any(std::size_t holder) const;
    bool requeue_empty() const { return m_requeued.empty(); }
    unsigned long given_up() const { return m_given_up; }

private:
    struct Entry {
        RawRead read;
        std::size_t holder = k_nobody;
        unsigned releases = 0;
    };

    void unqueue(std::uint64_t tag);

    unsigned m_max_releases;
    std::unordered_map<std::uint64_t, Entry> m_reads;
    std::deque<std::uint64_t> m_requeued;
    std::uint64_t m_next_tag = 0;
    unsigned long m_given_up = 0;
};

}  // namespace tamsu_cli
