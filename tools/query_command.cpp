#include "tools/query_command.h"

#include "client/server_query.h"
#include "tools/command_line.h"
#include "tools/embedded_server.h"
#include "tools/query_formatter.h"
#include "tools/security_options.h"
#include "tools/usage_error.h"

#include <boost/log/core/core.hpp>

#include <memory>

namespace tamsu_cli {

namespace query = tamsu::server_query;

const char* QueryCommand::usage()
{
    return R"(Usage: tamsu query WHAT [options]

Asks a basecall server one question and prints the answer. WHAT is one of:
  statistics       the server's counters and one line per connected client
  barcode-kits     the barcode kits the server knows
  lamp-kits        the LAMP kits the server knows
  server-info      the server's description of itself (JSON)
  internal-state   the server's whole internal state (JSON)

Options:
  --server ADDRESS   a port, HOST:PORT or ipc://PATH; without it a reference server runs
                     inside this process and answers
  --timeout MS       wait for each reply (default 2000); a query gives up after four waits
  --verbose          let the library's log records through to standard error
  --curve-server-key FILE
                     with --server: connect with CURVE; FILE holds the server's public key
  --curve-keys PREFIX
                     this client's key pair, PREFIX.public and PREFIX.secret

Exits with status 1, naming the result code, when the query fails.
)";
}

bool QueryCommand::ask(const std::string& what, const std::string& address, unsigned int timeout,
                       const tamsu::TransportSecurity& security, std::string& answer,
                       std::string& failure)
{
    tamsu::Result result = tamsu::Result::success;
    if (what == "statistics") {
        query::ServerStatistics stats;
        result = query::get_server_statistics(stats, address, timeout, security);
        answer = QueryFormatter::statistics(stats);
    } else if (what == "barcode-kits") {
        std::vector<query::BarcodeKitDefinition> kits;
        result = query::get_barcode_kits(kits, address, timeout, security);
        answer = QueryFormatter::barcode_kits(kits);
    } else if (what == "lamp-kits") {
        std::vector<query::LampKitDefinition> kits;
        result = query::get_lamp_kits(kits, address, timeout, security);
        answer = QueryFormatter::lamp_kits(kits);
    } else {
        std::string json;
        result = what == "server-info"
                         ? query::get_server_information(json, address, timeout, security)
                         : query::get_server_internal_state(json, address, timeout, security);
        answer = QueryFormatter::json(json);
    }
    failure = tamsu::to_string(result);
    return result == tamsu::Result::success;
}

int QueryCommand::run(const std::vector<std::string>& arguments, std::ostream& out,
                      std::ostream& err)
{
    auto options = SecurityOptions::command_line_options();
    options.insert(options.end(), {{"server", true}, {"timeout", true}, {"verbose", false}});
    CommandLine line(options, 1);
    line.parse(arguments);
    if (line.help_requested()) {
        out << usage();
        return 0;
    }
    if (line.positionals().empty()) {
        throw UsageError("query needs WHAT to ask");
    }
    const auto what = line.positionals().front();
    if (what != "statistics" && what != "barcode-kits" && what != "lamp-kits" &&
        what != "server-info" && what != "internal-state") {
        throw UsageError("unknown query '" + what + "'");
    }
    const auto timeout = static_cast<unsigned int>(line.number("timeout", 2000, 0xffffffffUL, 1));
    const auto security = SecurityOptions::from_command_line(line, line.has("server"));
    boost::log::core::get()->set_logging_enabled(line.has("verbose"));
    std::unique_ptr<EmbeddedServer> embedded;
    auto address = line.text("server");
    if (address.empty()) {
        embedded = std::make_unique<EmbeddedServer>();
        address = embedded->address();
    }
    std::string answer;
    std::string failure;
    if (!ask(what, address, timeout, security, answer, failure)) {
        err << "tamsu query: " << what << " failed: " << failure << "\n";
        return 1;
    }
    out << answer;
    return 0;
}

}  // namespace tamsu_cli
