#pragma once

#include <string>
#include <vector>

// Key files for CURVE transport security, shared by the reference server and the tamsu program
// (which links the server's library; the client library itself takes keys as text and reads no
// files). A key file holds one key per line as 40 characters of Z85 text (whose alphabet has
// '#', so there are no comments); blank lines are ignored. Errors throw std::runtime_error
// naming the file.
namespace reference_server::curve_key_files {

struct KeyPair {
    std::string public_key;
    std::string secret_key;
};

// Makes a new key pair and writes PREFIX.public (mode 0644 before the umask) and PREFIX.secret
// (mode 0600). Refuses, writing nothing, when either file exists already.
KeyPair generate(const std::string& prefix);

// Reads PREFIX.public and PREFIX.secret, and checks that they belong together.
KeyPair read_pair(const std::string& prefix);

// The one key in the file at `path`.
std::string read_key(const std::string& path);

// Every key in the file at `path`, at least one.
std::vector<std::string> read_keys(const std::string& path);

std::string public_path(const std::string& prefix);
std::string secret_path(const std::string& prefix);

}  // namespace reference_server::curve_key_files
