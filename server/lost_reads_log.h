#pragma once

#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace reference_server {

// The server's record of the reads it reported lost, so that a test can account for every read
// it passed even when the server is killed at any moment. A text file, appended to, one line per
// event, fields separated by tabs:
//   reported      CONNECTION_ID  READ_ID   written before the NONE_PENDING(1) reply goes out
//   acknowledged  CONNECTION_ID            the connection's next request arrived
// A REQ client sends its next request only after it has read the reply, so an acknowledged
// report is one the client acted on. A report left unacknowledged (the server was killed, or the
// client gave up waiting) may or may not have reached the client.
class LostReadsLog {
public:
    // Records nothing for an empty path. Throws std::runtime_error when the file cannot be
    // opened for appending.
    explicit LostReadsLog(const std::string& path);

    void report(const std::string& connection_id, const std::vector<std::string>& read_ids);
    // Call for every request that carries a connection id; cheap while no report is pending.
    void request_from(std::string_view connection_id);

private:
    void write(const std::string& text);

    std::ofstream m_file;
    std::set<std::string, std::less<>> m_unacknowledged;
};

}  // namespace reference_server
