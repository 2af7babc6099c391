#include "server/loaded_files.h"

#include "server/catalogue.h"
#include "server/server_reply.h"

#include <algorithm>

namespace reference_server {

using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

// Loads a reference file once (answering LOADING while the load delay runs) and keeps it by path.
template <typename Data, typename Loader>
Message load_reference_file(const std::string& path, const char* missing_text,
                            std::map<std::string, std::shared_ptr<const Data>>& loaded,
                            bool delay_over, Loader load)
{
    if (path.empty()) {
        return reply(MessageType::REQUEST_FAILED, 0, missing_text);
    }
    if (loaded.count(path) > 0) {
        return reply(MessageType::SUCCESS);
    }
    if (!delay_over) {
        return reply(MessageType::LOADING);
    }
    auto data = std::make_shared<Data>();
    std::string error;
    if (!load(path, *data, error)) {
        return reply(MessageType::REQUEST_FAILED, 0, error);
    }
    loaded[path] = std::move(data);
    return reply(MessageType::SUCCESS);
}

}  // namespace

bool LoadedFiles::load_delay_over(MessageType type, const std::string& name,
                                  std::chrono::milliseconds delay)
{
    if (delay.count() <= 0) {
        return true;
    }
    const auto key = std::make_pair(type, name);
    const auto now = Clock::now();
    const auto found = m_pending.find(key);
    if (found == m_pending.end()) {
        m_pending.emplace(key, now);
        return false;
    }
    if (now - found->second < delay) {
        return false;
    }
    m_pending.erase(found);
    return true;
}

bool LoadedFiles::has_config(const std::string& name) const
{
    return std::find(m_configs.begin(), m_configs.end(), name) != m_configs.end();
}

Message LoadedFiles::load_config(const std::string& name, const FaultSettings& faults)
{
    if (find_config(name) == nullptr) {
        return reply(MessageType::REQUEST_FAILED, 0,
                     "Unknown basecalling configuration: '" + name + "'");
    }
    const auto& refused = faults.refused_configs;
    if (std::find(refused.begin(), refused.end(), name) != refused.end()) {
        return reply(MessageType::REQUEST_FAILED, 0,
                     "Basecalling configuration '" + name + "' is refused by this server");
    }
    if (has_config(name)) {
        return reply(MessageType::SUCCESS);
    }
    if (!load_delay_over(MessageType::LOAD_CONFIG, name, faults.load_delay)) {
        return reply(MessageType::LOADING);
    }
    m_configs.push_back(name);
    return reply(MessageType::SUCCESS);
}

Message LoadedFiles::load_index(const std::string& path, const FaultSettings& faults)
{
    const bool delay_over = path.empty() || m_indices.count(path) > 0 ||
                            load_delay_over(MessageType::LOAD_INDEX, path, faults.load_delay);
    return load_reference_file(path, "No alignment index file given", m_indices, delay_over,
                               load_fasta);
}

Message LoadedFiles::load_bed_file(const std::string& path, const FaultSettings& faults)
{
    const bool delay_over = path.empty() || m_bed_files.count(path) > 0 ||
                            load_delay_over(MessageType::LOAD_BED, path, faults.load_delay);
    return load_reference_file(path, "No BED file given", m_bed_files, delay_over, load_bed);
}

}  // namespace reference_server
