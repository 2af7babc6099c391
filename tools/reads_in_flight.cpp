#include "tools/reads_in_flight.h"

#include <algorithm>

namespace tamsu_cli {

ReadsInFlight::ReadsInFlight(unsigned max_releases)
        : m_max_releases(max_releases)
{
}

std::uint64_t ReadsInFlight::add(RawRead read)
{
    // Tags only need to be unique among reads in flight and fit in 32 bits.
    const auto tag = m_next_tag++ & 0xffffffffULL;
    m_reads[tag] = Entry{std::move(read)};
    return tag;
}

const RawRead& ReadsInFlight::raw(std::uint64_t tag) const
{
    return m_reads.at(tag).read;
}

void ReadsInFlight::assign(std::uint64_t tag, std::size_t holder)
{
    const auto found = m_reads.find(tag);
    if (found != m_reads.end()) {
        found->second.holder = holder;
        unqueue(tag);
    }
}

bool ReadsInFlight::complete(std::uint64_t tag)
{
    if (m_reads.erase(tag) == 0) {
        return false;
    }
    unqueue(tag);
    return true;
}

bool ReadsInFlight::holds_any(std::size_t holder) const
{
    return std::any_of(m_reads.begin(), m_reads.end(),
                       [holder](const auto& entry) { return entry.second.holder == holder; });
}

std::size_t ReadsInFlight::release(std::size_t holder)
{
    std::size_t count = 0;
    for (auto entry = m_reads.begin(); entry != m_reads.end();) {
        if (entry->second.holder != holder) {
            ++entry;
            continue;
        }
        entry->second.holder = k_nobody;
        if (++entry->second.releases > m_max_releases) {
            ++m_given_up;
            entry = m_reads.erase(entry);
        } else {
            ++count;
            m_requeued.push_back(entry->first);
            ++entry;
        }
    }
    return count;
}

std::optional<std::uint64_t> ReadsInFlight::next_requeued() const
{
    return m_requeued.empty() ? std::nullopt : std::optional<std::uint64_t>(m_requeued.front());
}

void ReadsInFlight::unqueue(std::uint64_t tag)
{
    const auto found = std::find(m_requeued.begin(), m_requeued.end(), tag);
    if (found != m_requeued.end()) {
        m_requeued.erase(found);
    }
}

}  // namespace tamsu_cli
