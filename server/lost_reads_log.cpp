#include "server/lost_reads_log.h"

#include <stdexcept>

namespace reference_server {

LostReadsLog::LostReadsLog(const std::string& path)
{
    if (path.empty()) {
        return;
    }
    m_file.open(path, std::ios::out | std::ios::app);
    if (!m_file) {
        throw std::runtime_error("Cannot open lost reads file '" + path + "' for appending");
    }
}

void LostReadsLog::report(const std::string& connection_id,
                          const std::vector<std::string>& read_ids)
{
    if (!m_file.is_open() || read_ids.empty()) {
        return;
    }
    std::string text;
    for (const auto& read_id : read_ids) {
        text += "reported\t" + connection_id + "\t" + read_id + "\n";
    }
    write(text);
    m_unacknowledged.insert(connection_id);
}

void LostReadsLog::request_from(std::string_view connection_id)
{
    const auto found = m_unacknowledged.find(connection_id);
    if (found != m_unacknowledged.end()) {
        m_unacknowledged.erase(found);
        write("acknowledged\t" + std::string(connection_id) + "\n");
    }
}

void LostReadsLog::write(const std::string& text)
{
    // Flushed at once: the process may be killed right after the reply goes out.
    m_file << text << std::flush;
    if (!m_file) {
        throw std::runtime_error("Cannot write to the lost reads file");
    }
}

}  // namespace reference_server
