#include "server/bind_address.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace reference_server {

namespace {

constexpr const char* k_tcp = "tcp://";
constexpr const char* k_ipc = "ipc://";
constexpr unsigned long k_max_port = 65535;

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool all_digits(const std::string& text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool valid_port(const std::string& port)
{
    return port == "*" || (all_digits(port) && port.size() <= 5 && std::stoul(port) <= k_max_port);
}

// "tcp://HOST:PORT" for the "HOST:PORT" part of `address`.
std::string tcp_endpoint(const std::string& address, const std::string& host_and_port)
{
    const auto colon = host_and_port.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == host_and_port.size()) {
        throw std::invalid_argument("Cannot interpret server address '" + address +
                                    "': expected PORT, HOST:PORT or a ZeroMQ endpoint");
    }
    auto host = host_and_port.substr(0, colon);
    const auto port = host_and_port.substr(colon + 1);
    if (!valid_port(port)) {
        throw std::invalid_argument("Server address '" + address + "' has port '" + port +
                                    "': expected a number from 0 to 65535, or *");
    }
    // ZeroMQ binds interfaces and IP addresses, not host names.
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    return k_tcp + host + ":" + port;
}

// Closes the descriptor it owns.
class Descriptor {
public:
    explicit Descriptor(int fd)
            : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Whether something accepts connections on the Unix socket at `path`. A socket whose server is
// gone refuses them.
bool accepts_connections(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return false;  // binding it fails anyway
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const Descriptor probe(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (probe.get() < 0) {
        return false;
    }
    // A full backlog answers EAGAIN: a server is there, only busy.
    return connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
                   0 ||
           errno == EAGAIN;
}

}  // namespace

std::string to_bind_endpoint(const std::string& address, bool bind_all)
{
    const bool bare_port = all_digits(address);
    if (bind_all && !bare_port) {
        throw std::invalid_argument("Binding every interface is asked with a bare port, not '" +
                                    address + "'");
    }
    if (bare_port) {
        return tcp_endpoint(address, (bind_all ? "*:" : "127.0.0.1:") + address);
    }
    if (starts_with(address, k_tcp)) {
        return tcp_endpoint(address, address.substr(std::strlen(k_tcp)));
    }
    if (address.find("://") != std::string::npos) {
        return address;
    }
    return tcp_endpoint(address, address);
}

bool serves_all_interfaces(const std::string& endpoint)
{
    if (!starts_with(endpoint, k_tcp)) {
        return false;
    }
    const auto host_start = std::strlen(k_tcp);
    const auto colon = endpoint.rfind(':');
    const auto host = endpoint.substr(host_start, colon - host_start);
    return host == "*" || host == "0.0.0.0" || host == "[::]";
}

void check_ipc_path_unclaimed(const std::string& endpoint)
{
    if (!starts_with(endpoint, k_ipc)) {
        return;
    }
    const auto path = endpoint.substr(std::strlen(k_ipc));
    // "*" asks for a fresh path; a name starting with "@" is abstract, and taken names fail.
    if (path.empty() || path == "*" || path[0] == '@') {
        return;
    }
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return;  // nothing there yet, or unreachable: binding says which
    }
    if (!S_ISSOCK(status.st_mode)) {
        throw std::runtime_error("Cannot serve on " + endpoint +
                                 ": the path exists and is not a socket");
    }
    if (accepts_connections(path)) {
        throw std::runtime_error("Cannot serve on " + endpoint +
                                 ": another server is listening there");
    }
}

}  // namespace reference_server
