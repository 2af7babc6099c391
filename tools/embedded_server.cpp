#include "tools/embedded_server.h"

#include "server/basecall_server.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tamsu_cli {

namespace {

std::string make_private_directory()
{
    // Socket paths are limited to about 100 characters, so a long TMPDIR is not used.
    const char* base = std::getenv("TMPDIR");
    std::string root = base != nullptr && std::strlen(base) < 60 ? base : "/tmp";
    std::string pattern = root + "/tamsu-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory in " + root + ": " +
                                 std::strerror(errno));
    }
    return buffer.data();
}

}  // namespace

EmbeddedServer::EmbeddedServer()
        : m_directory(make_private_directory())
{
    reference_server::ServerOptions options;
    options.address = "ipc://" + m_directory + "/server";
    options.worker_threads = std::max(2u, std::thread::hardware_concurrency());
    try {
        m_server = std::make_unique<reference_server::BasecallServer>(options);
    } catch (const std::exception& error) {
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
        throw std::runtime_error("cannot start the embedded server: " + std::string(error.what()));
    }
}

EmbeddedServer::~EmbeddedServer()
{
    m_server->stop();
    m_server.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_directory, ignored);
}

std::string EmbeddedServer::address() const
{
    return m_server->endpoint();
}

}  // namespace tamsu_cli
