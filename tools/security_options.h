#pragma once

#include "client/transport_security.h"

#include <CLI/App.hpp>

#include <string>

namespace tamsu_cli {

// The CURVE flags of "tamsu basecall" and "tamsu query": --curve-server-key FILE (the server's
// public key file) and --curve-keys PREFIX (this client's key pair, PREFIX.public and
// PREFIX.secret).
class SecurityOptions {
public:
    // Adds both flags to `app`, in a group of their own (later options join it unless they name
    // another); their files are read only by `read`.
    void add_to(CLI::App& app);
    // No keys when neither flag was given. Throws UsageError when only one was, or when there is
    // no server to use them with (`has_server` false), and std::runtime_error for a key file
    // that cannot be used.
    tamsu::TransportSecurity read(bool has_server) const;

private:
    std::string m_server_key_file;
    std::string m_key_prefix;
};

}  // namespace tamsu_cli
