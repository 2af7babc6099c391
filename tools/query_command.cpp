#include "tools/query_command.h"

#include "client/server_query.h"
#include "program_support/cli_options.h"
#include "tools/embedded_server.h"
#include "tools/query_formatter.h"
#include "tools/security_options.h"

#include <boost/log/core/core.hpp>

#include <memory>

namespace tamsu_cli {

namespace query = tamsu::server_query;

namespace {

const char* const k_name = "tamsu query";

// What "tamsu query" was asked.
struct QueryOptions {
    std::string what;
    std::string server;  // empty: ask the embedded server
    unsigned long timeout = 2000;
    bool verbose = false;
    SecurityOptions curve_files;

    void describe(CLI::App& app)
    {
        app.add_option("WHAT", what, "what to ask (see below)")
                ->required()
                ->check(CLI::IsMember({"statistics", "barcode-kits", "lamp-kits", "server-info",
                                       "internal-state"}))
                ->type_name("");
        app.add_option("--server", server,
                       "a port, HOST:PORT or ipc://PATH; without it a reference server runs "
                       "inside this process and answers")
                ->type_name("ADDRESS");
        program_support::add_whole_number(app, "--timeout", timeout, 1, 0xffffffffUL,
                                          "wait for each reply, in ms (default 2000); a query "
                                          "gives up after four waits");
        app.add_flag("--verbose", verbose,
                     "let the library's log records through to standard error");
        curve_files.add_to(app);
        app.footer(R"(Asks a basecall server one question and prints the answer.

WHAT:
  statistics       the server's counters and one line per connected client
  barcode-kits     the barcode kits the server knows
  lamp-kits        the LAMP kits the server knows
  server-info      the server's description of itself (JSON)
  internal-state   the server's whole internal state (JSON)
Exits with status 1, naming the result code, when the query fails.)");
    }
};

}  // namespace

std::string QueryCommand::usage()
{
    return program_support::usage_of<QueryOptions>(k_name);
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
    const auto parsed = program_support::parse_options<QueryOptions>(k_name, arguments, out);
    if (!parsed) {
        return 0;
    }
    const auto& options = *parsed;
    const auto security = options.curve_files.read(!options.server.empty());
    boost::log::core::get()->set_logging_enabled(options.verbose);
    std::unique_ptr<EmbeddedServer> embedded;
    auto address = options.server;
    if (address.empty()) {
        embedded = std::make_unique<EmbeddedServer>();
        address = embedded->address();
    }
    std::string answer;
    std::string failure;
    const auto& what = options.what;
    if (!ask(what, address, static_cast<unsigned int>(options.timeout), security, answer,
             failure)) {
        err << "tamsu query: " << what << " failed: " << failure << "\n";
        return 1;
    }
    out << answer;
    return 0;
}

}  // namespace tamsu_cli
