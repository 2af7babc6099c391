#include "tools/keygen_command.h"

#include "program_support/cli_options.h"
#include "server/curve_key_files.h"

namespace tamsu_cli {

namespace key_files = reference_server::curve_key_files;

namespace {

const char* const k_name = "tamsu keygen";

struct KeygenOptions {
    std::string prefix;

    void describe(CLI::App& app)
    {
        app.add_option("PREFIX", prefix, "the key files' names without .public and .secret")
                ->required()
                ->type_name("");
        app.footer(R"(Makes a new key pair for CURVE transport security.

The pair is written as two files of one line each (40 characters of Z85 text):
  PREFIX.public   the public key, to hand to the other side: a client's to the server's
                  allow list (--curve-allow), a server's to its clients (--curve-server-key)
  PREFIX.secret   the secret key, created readable by its owner only (mode 0600); it never
                  leaves this machine
Existing files are never overwritten: when either file exists, nothing is written and the
command fails (status 1).)");
    }
};

}  // namespace

std::string KeygenCommand::usage()
{
    return program_support::usage_of<KeygenOptions>(k_name);
}

int KeygenCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream&)
{
    const auto options = program_support::parse_options<KeygenOptions>(k_name, arguments, out);
    if (!options) {
        return 0;
    }
    const auto& prefix = options->prefix;
    const auto pair = key_files::generate(prefix);
    out << "Wrote " << key_files::public_path(prefix) << " and " << key_files::secret_path(prefix)
        << "\npublic key: " << pair.public_key << "\n";
    return 0;
}

}  // namespace tamsu_cli
