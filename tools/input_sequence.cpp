#include "tools/input_sequence.h"

#include <filesystem>

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

namespace {

// Reads of no declared run form a group named after their input.
std::string group_of_unnamed_runs(const RawReadSource& source)
{
    return std::filesystem::path(source.name()).filename().string();
}

void add_run_ids(const RawReadSource& source, std::vector<std::string>& all)
{
    const auto ids = source.run_ids();
    bool unnamed = ids.empty();
    for (const auto& id : ids) {
        unnamed = unnamed || id.empty();
        if (!id.empty()) {
            all.push_back(id);
        }
    }
    if (unnamed) {
        all.push_back(group_of_unnamed_runs(source));
    }
}

}  // namespace

std::vector<std::string> InputSequence::run_ids() const
{
    std::vector<std::string> all;
    add_run_ids(*m_source, all);
    for (auto index = m_next_path; index < m_paths.size(); ++index) {
        // Opening reads only a signal file's header; standard input cannot be read twice.
        if (m_paths[index] != "-") {
            add_run_ids(*RawReadSource::open(m_paths[index]), all);
        }
    }
    return all;
}

bool InputSequence::next(RawRead& read)
{
    while (!m_source->next(read)) {
        if (m_next_path == m_paths.size()) {
            return false;
        }
        open_next();
    }
    if (read.run_id.empty()) {
        read.run_id = group_of_unnamed_runs(*m_source);
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
