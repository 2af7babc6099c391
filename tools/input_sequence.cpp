#include "tools/input_sequence.h"

namespace tamsu_cli {

InputSequence::InputSequence(std::vector<std::string> paths)
        : m_paths(std::move(paths))
{
    open_next();
}

void InputSequence::open_next()
{
    m_source = RawReadSource::open(m_paths.at(m_next_path++));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_names.push_back(m_source->name());
}

bool InputSequence::next(RawRead& read)
{
    while (!m_source->next(read)) {
        if (m_next_path == m_paths.size()) {
            return false;
        }
        open_next();
    }
    remember(read.read_id);
    return true;
}

void InputSequence::remember(const std::string& read_id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_origins.emplace(read_id, m_names.size() - 1).second) {
        return;
    }
    ++m_duplicates;
    if (m_duplicate_ids.size() < k_named_duplicates) {
        m_duplicate_ids.push_back(read_id);
    }
}

std::string InputSequence::source_of(const std::string& read_id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_origins.find(read_id);
    return found == m_origins.end() ? std::string() : m_names[found->second];
}

std::size_t InputSequence::duplicates() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_duplicates;
}

std::vector<std::string> InputSequence::duplicate_ids() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_duplicate_ids;
}

}  // namespace tamsu_cli
