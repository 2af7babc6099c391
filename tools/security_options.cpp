#include "tools/security_options.h"

#include "server/curve_key_files.h"
#include "tools/usage_error.h"

namespace tamsu_cli {

namespace key_files = reference_server::curve_key_files;

std::vector<CommandLine::Option> SecurityOptions::command_line_options()
{
    return {{"curve-server-key", true}, {"curve-keys", true}};
}

tamsu::TransportSecurity SecurityOptions::from_command_line(const CommandLine& line,
                                                            bool has_server)
{
    const bool server_key = line.has("curve-server-key");
    const bool keys = line.has("curve-keys");
    if (!server_key && !keys) {
        return {};
    }
    if (server_key != keys) {
        throw UsageError("--curve-server-key and --curve-keys go together");
    }
    // The embedded server serves plain connections only.
    if (!has_server) {
        throw UsageError("--curve-server-key and --curve-keys need --server");
    }
    const auto pair = key_files::read_pair(line.text("curve-keys"));
    return {key_files::read_key(line.text("curve-server-key")), pair.public_key, pair.secret_key};
}

}  // namespace tamsu_cli
