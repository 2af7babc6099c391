#pragma once

#include "ipc_tools/message.h"
#include "server/basecall_server.h"
#include "server/reference_data.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace reference_server {

// The configurations, alignment indices and BED files loaded on request (LOAD_CONFIG,
// LOAD_INDEX, LOAD_BED), each kept by name or path for the rest of the server's run. With a load
// delay set a load answers LOADING until that long after the first request for the same name.
// Not thread-safe: the server's state lock guards it.
class LoadedFiles {
public:
    using Indices = std::map<std::string, std::shared_ptr<const AlignmentIndex>>;
    using BedFiles = std::map<std::string, std::shared_ptr<const BedFile>>;

    // The replies to the load requests.
    ipc_tools::Message load_config(const std::string& name, const FaultSettings& faults);
    ipc_tools::Message load_index(const std::string& path, const FaultSettings& faults);
    ipc_tools::Message load_bed_file(const std::string& path, const FaultSettings& faults);

    bool has_config(const std::string& name) const;
    // In the order they were loaded.
    const std::vector<std::string>& configs() const { return m_configs; }
    const Indices& indices() const { return m_indices; }
    const BedFiles& bed_files() const { return m_bed_files; }

private:
    using Clock = std::chrono::steady_clock;

    bool load_delay_over(ipc_tools::MessageType type, const std::string& name,
                         std::chrono::milliseconds delay);

    std::vector<std::string> m_configs;
    Indices m_indices;
    BedFiles m_bed_files;
    // When each load still answering LOADING was first asked for.
    std::map<std::pair<ipc_tools::MessageType, std::string>, Clock::time_point> m_pending;
};

}  // namespace reference_server
