#include "tools/keygen_command.h"

#include "server/curve_key_files.h"
#include "tools/command_line.h"
#include "tools/usage_error.h"

namespace tamsu_cli {

namespace key_files = reference_server::curve_key_files;

const char* KeygenCommand::usage()
{
    return R"(Usage: tamsu keygen PREFIX

Makes a new key pair for CURVE transport security and writes it as two files of one line
each (40 characters of Z85 text):
  PREFIX.public   the public key, to hand to the other side: a client's to the server's
                  allow list (--curve-allow), a server's to its clients (--curve-server-key)
  PREFIX.secret   the secret key, created readable by its owner only (mode 0600); it never
                  leaves this machine
Existing files are never overwritten: when either file exists, nothing is written and the
command fails (status 1).
)";
}

int KeygenCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream&)
{
    CommandLine line({}, 1);
    line.parse(arguments);
    if (line.help_requested()) {
        out << usage();
        return 0;
    }
    if (line.positionals().empty()) {
        throw UsageError("keygen needs a PREFIX for the key files");
    }
    const auto& prefix = line.positionals().front();
    const auto pair = key_files::generate(prefix);
    out << "Wrote " << key_files::public_path(prefix) << " and " << key_files::secret_path(prefix)
        << "\npublic key: " << pair.public_key << "\n";
    return 0;
}

}  // namespace tamsu_cli
