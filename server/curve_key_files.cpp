#include "server/curve_key_files.h"

#include "ipc_tools/curve_keys.h"

#include <fcntl.h>
#include <unistd.h>

#include <zmq.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace reference_server::curve_key_files {

namespace {

std::runtime_error file_error(const std::string& path, const std::string& what)
{
    return std::runtime_error("key file " + path + ": " + what);
}

// Creates `path` exclusively, so an existing key is never overwritten, and writes `line`.
void write_new_file(const std::string& path, const std::string& line, mode_t mode)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        throw file_error(path, errno == EEXIST ? "exists already; remove it or choose another "
                                                 "prefix"
                                               : std::strerror(errno));
    }
    const auto text = line + "\n";
    const auto written = ::write(fd, text.data(), text.size());
    const int write_errno = errno;
    if (::close(fd) != 0 || written != static_cast<ssize_t>(text.size())) {
        ::unlink(path.c_str());
        throw file_error(path, std::strerror(written < 0 ? write_errno : EIO));
    }
}

}  // namespace

std::string public_path(const std::string& prefix)
{
    return prefix + ".public";
}

std::string secret_path(const std::string& prefix)
{
    return prefix + ".secret";
}

KeyPair generate(const std::string& prefix)
{
    char public_key[41] = {};
    char secret_key[41] = {};
    if (zmq_curve_keypair(public_key, secret_key) != 0) {
        throw std::runtime_error(std::string("cannot make a CURVE key pair: ") +
                                 zmq_strerror(zmq_errno()));
    }
    const KeyPair pair{public_key, secret_key};
    write_new_file(secret_path(prefix), pair.secret_key, 0600);
    try {
        write_new_file(public_path(prefix), pair.public_key, 0644);
    } catch (const std::exception&) {
        ::unlink(secret_path(prefix).c_str());
        throw;
    }
    return pair;
}

KeyPair read_pair(const std::string& prefix)
{
    KeyPair pair{read_key(public_path(prefix)), read_key(secret_path(prefix))};
    char derived[41] = {};
    if (zmq_curve_public(derived, pair.secret_key.c_str()) != 0 || pair.public_key != derived) {
        throw file_error(public_path(prefix), "is not the public key to " + secret_path(prefix));
    }
    return pair;
}

std::string read_key(const std::string& path)
{
    const auto keys = read_keys(path);
    if (keys.size() != 1) {
        throw file_error(path, "holds " + std::to_string(keys.size()) + " keys, not one");
    }
    return keys.front();
}

std::vector<std::string> read_keys(const std::string& path)
{
    std::ifstream file(path);
    if (!file) {
        throw file_error(path, "cannot be read");
    }
    std::vector<std::string> keys;
    std::size_t number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        if (!ipc_tools::is_curve_key(line)) {
            throw file_error(path, "line " + std::to_string(number) +
                                           " is not a key (40 characters of Z85 text)");
        }
        keys.push_back(line);
    }
    if (keys.empty()) {
        throw file_error(path, "holds no key");
    }
    return keys;
}

}  // namespace reference_server::curve_key_files
