#pragma once

#include <memory>
#include <string>

namespace reference_server {
class BasecallServer;
}

namespace tamsu_cli {

// A reference basecall server running inside this process on a private ipc:// endpoint in a
// fresh temporary directory, for when no server address was given. Stopped, and its directory
// removed, on destruction.
class EmbeddedServer {
public:
    // Throws std::runtime_error when the directory or the server cannot be set up.
    EmbeddedServer();
    ~EmbeddedServer();
    EmbeddedServer(const EmbeddedServer&) = delete;
    EmbeddedServer& operator=(const EmbeddedServer&) = delete;

    std::string address() const;

private:
    std::string m_directory;
    std::unique_ptr<reference_server::BasecallServer> m_server;
};

}  // namespace tamsu_cli
