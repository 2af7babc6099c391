// tamsu_basecall_server: runs the reference basecall server until SIGINT or SIGTERM; SIGHUP makes
// it forget its clients.

#include "program_support/cli_options.h"
#include "server/basecall_server.h"
#include "server/bind_address.h"
#include "server/curve_key_files.h"

#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>

namespace {

// Files named on the command line, read once the command line is known to be usable.
struct CurveFiles {
    std::string key_prefix;
    std::string allow_list;
};

// Delays beyond a day would only hang the tests they are meant for.
constexpr unsigned long k_longest_delay_ms = 24UL * 60 * 60 * 1000;
constexpr unsigned long k_max_32 = std::numeric_limits<std::uint32_t>::max();
// More workers than this would be a mistake, not a bigger machine.
constexpr unsigned long k_most_threads = 1024;

void add_address_options(CLI::App& app, reference_server::ServerOptions& options)
{
    app.add_option("ADDRESS", options.address, "where to serve (see below)")
            ->required()
            ->type_name("");
    app.add_flag("--bind-all", options.bind_all, "a bare PORT serves every interface");
    program_support::add_whole_number(app, "--max-clients", options.max_clients, 0,
                                      std::numeric_limits<std::size_t>::max(),
                                      "clients served at once (default 1000, 0: no limit)");
    program_support::add_whole_number(app, "--threads", options.worker_threads, 1, k_most_threads,
                                      "worker threads that call reads (default 2)");
}

void add_fault_options(CLI::App& app, reference_server::FaultSettings& faults)
{
    using program_support::add_whole_number;
    app.option_defaults()->group("Faults");
    const std::tuple<const char*, std::chrono::milliseconds*, const char*> delays[] = {
            {"--load-delay", &faults.load_delay,
             "answer LOADING to load requests for N milliseconds"},
            {"--call-delay", &faults.call_delay,
             "a read is ready N milliseconds after its last block"},
            {"--call-time", &faults.call_time,
             "each read keeps a worker thread busy for N milliseconds"}};
    for (const auto& [flag, target, description] : delays) {
        add_whole_number(app, flag, *target, 0, k_longest_delay_ms, description);
    }
    add_whole_number(app, "--max-reads-in-flight", faults.max_reads_in_flight, 0, k_max_32,
                     "NOT_READY to a first block while N reads are in flight (0: no limit)");
    app.add_flag("--lose-reads", faults.lose_reads,
                 "drop called reads and report them lost in NONE_PENDING");
    app.add_option("--refuse-config", faults.refused_configs,
                   "fail LOAD_CONFIG for NAME (may be given several times)")
            ->type_name("NAME")
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_flag("--silent", faults.silent, "never answer any request");
    add_whole_number(app, "--silent-requests", faults.silent_requests, 0, k_max_32,
                     "leave the next N requests unanswered");
    app.add_flag("--zero-work", faults.zero_work, "skip calling: reads come back at once, empty");
}

void add_file_options(CLI::App& app, reference_server::ServerOptions& options, CurveFiles& curve)
{
    app.add_option("--lost-reads-file", options.lost_reads_file,
                   "record the reads reported lost in PATH (see below)")
            ->type_name("PATH");
    app.option_defaults()->group("Transport security");
    auto* keys = app.add_option("--curve-keys", curve.key_prefix,
                                "serve over CURVE only, with PREFIX.public and PREFIX.secret")
                         ->type_name("PREFIX");
    app.add_option("--curve-allow", curve.allow_list,
                   "admit only the client keys in FILE (one a line)")
            ->type_name("FILE")
            ->needs(keys);
}

const char* const k_name = "tamsu_basecall_server";

// What the command line asks for, with the help text around the options.
struct ServerCommandLine {
    reference_server::ServerOptions options;
    CurveFiles curve;

    void describe(CLI::App& app);
};

void ServerCommandLine::describe(CLI::App& app)
{
    add_address_options(app, options);
    add_fault_options(app, options.faults);
    add_file_options(app, options, curve);
    app.footer(
            R"(Runs the reference basecall server at ADDRESS until SIGINT or SIGTERM. ADDRESS is one of
  PORT                         the loopback interface only (every interface with --bind-all)
  HOST:PORT, tcp://HOST:PORT   HOST is localhost, an IP address or an interface name, and
                               * or 0.0.0.0 for every interface; PORT 0 or * is any free port
  ipc://PATH                   a local socket, refused while another server serves PATH;
                               other ZeroMQ endpoints are bound as given
The server has no authentication unless it serves CURVE: serving every interface lets anyone
who can reach the port use it, and prints a warning to standard error. On start the bound
endpoint is printed as one line: "Listening on ENDPOINT" (which is accepted back as ADDRESS).
SIGHUP makes the server forget every connected client: their later requests are answered
CLIENT_NOT_RECOGNISED. So is a client that sent nothing for its connection time-out (at
least 3 seconds), and its reads are dropped.

--lost-reads-file PATH appends a line "reported<TAB>CONNECTION<TAB>READ_ID" for every read
reported lost, before the report goes out, and "acknowledged<TAB>CONNECTION" when that
connection's next request shows the client received the report.

--curve-keys PREFIX serves over CURVE with the key pair in PREFIX.public and PREFIX.secret
("tamsu keygen PREFIX" makes one): traffic is encrypted, and clients need PREFIX.public as
the server key. --curve-allow FILE admits only the listed client keys; without it every
client that knows the server's public key is admitted.)");
}

// The command line, or none when help was asked for (and printed). Throws CLI::ParseError, or
// std::invalid_argument for an address that cannot be used.
std::optional<ServerCommandLine> parse_arguments(int argc, char** argv)
{
    auto line = program_support::parse_options<ServerCommandLine>(
            k_name, std::vector<std::string>(argv + 1, argv + argc), std::cout);
    if (line) {
        // Throws when unusable.
        reference_server::to_bind_endpoint(line->options.address, line->options.bind_all);
    }
    return line;
}

void read_curve_files(const CurveFiles& files, reference_server::CurveServerSettings& curve)
{
    namespace key_files = reference_server::curve_key_files;
    if (files.key_prefix.empty()) {
        return;
    }
    curve.secret_key = key_files::read_pair(files.key_prefix).secret_key;
    if (!files.allow_list.empty()) {
        const auto keys = key_files::read_keys(files.allow_list);
        curve.allowed_client_keys.insert(keys.begin(), keys.end());
    }
}

// Serving every interface without CURVE lets anyone who can reach the port use the server.
void warn_if_exposed(const std::string& endpoint, bool curve)
{
    if (!curve && reference_server::serves_all_interfaces(endpoint)) {
        std::cerr << "tamsu_basecall_server: warning: serving every interface at " << endpoint
                  << " without authentication or encryption; any host that can reach this port "
                     "can use the server"
                  << std::endl;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::optional<ServerCommandLine> line;
    try {
        line = parse_arguments(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << k_name << ": " << error.what() << "\n\n"
                  << program_support::usage_of<ServerCommandLine>(k_name);
        return 2;
    }
    if (!line) {
        return 0;
    }
    auto& options = line->options;
    const auto& curve = line->curve;

    // Every thread started from here on inherits the blocked mask, so the signals reach
    // sigwait below and nothing else.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        read_curve_files(curve, options.curve);
        reference_server::BasecallServer server(options);
        warn_if_exposed(server.endpoint(), !options.curve.secret_key.empty());
        std::cout << "Listening on " << server.endpoint() << std::endl;
        int received = 0;
        while (sigwait(&signals, &received) == 0 && received == SIGHUP) {
            server.forget_all_clients();
        }
        server.stop();
    } catch (const std::exception& error) {
        std::cerr << "tamsu_basecall_server: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
