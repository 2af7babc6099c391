#include "tools/security_options.h"

#include "server/curve_key_files.h"
#include "tools/usage_error.h"

namespace tamsu_cli {

namespace key_files = reference_server::curve_key_files;

void SecurityOptions::add_to(CLI::App& app)
{
    app.option_defaults()->group("Transport security (with --server; see \"tamsu keygen\")");
    app.add_option("--curve-server-key", m_server_key_file,
                   "connect with CURVE: FILE holds the server's public key")
            ->type_name("FILE");
    app.add_option("--curve-keys", m_key_prefix,
                   "this client's key pair, PREFIX.public and PREFIX.secret")
            ->type_name("PREFIX");
}

tamsu::TransportSecurity SecurityOptions::read(bool has_server) const
{
    const bool server_key = !m_server_key_file.empty();
    const bool keys = !m_key_prefix.empty();
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
    const auto pair = key_files::read_pair(m_key_prefix);
    return {key_files::read_key(m_server_key_file), pair.public_key, pair.secret_key};
}

}  // namespace tamsu_cli
