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
    auto& origin = m_origins.try_emplace(read_id, Origin{m_names.size() - 1, 0}).first->second;
    ++origin.reads;
    if (m_seen.insert(std::hash<std::string>()(read_id)).second) {
        return;
    }
    ++m_duplicates;
    if (m_duplicate_ids.size() < k_named_duplicates) {
        m_duplicate_ids.push_back(read_id);
    }
}

std::string InputSequence::take_source(const std::string& read_id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_origins.find(read_id);
    if (found == m_origins.end()) {
        return {};
    }
    const auto name = m_names[found->second.input];
    if (--found->second.reads == 0) {
        m_origins.erase(found);
    }
    return name;
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
