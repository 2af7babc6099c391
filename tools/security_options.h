#pragma once

#include "client/transport_security.h"
#include "tools/command_line.h"

#include <vector>

namespace tamsu_cli {

// The CURVE flags of "tamsu basecall" and "tamsu query": --curve-server-key FILE (the server's
// public key file) and --curve-keys PREFIX (this client's key pair, PREFIX.public and
// PREFIX.secret).
class SecurityOptions {
public:
    static std::vector<CommandLine::Option> command_line_options();
    // No keys when neither flag was given. Throws UsageError when only one was, or when there is
    // no server to use them with (`has_server` false), and std::runtime_error for a key file
    // that cannot be used.
    static tamsu::TransportSecurity from_command_line(const CommandLine& line, bool has_server);
};

}  // namespace tamsu_cli
