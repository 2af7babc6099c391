// tamsu_basecall_server: runs the reference basecall server until SIGINT or SIGTERM; SIGHUP makes
// it forget its clients.

#include "program_support/number_parsing.h"
#include "server/basecall_server.h"
#include "server/bind_address.h"
#include "server/curve_key_files.h"

#include <pthread.h>
#include <signal.h>

#include <climits>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

const char* const k_usage = R"(Usage: tamsu_basecall_server [options] ADDRESS

Runs the reference basecall server at ADDRESS until SIGINT or SIGTERM. ADDRESS is one of
  PORT                         the loopback interface only (every interface with --bind-all)
  HOST:PORT, tcp://HOST:PORT   HOST is localhost, an IP address or an interface name, and
                               * or 0.0.0.0 for every interface; PORT 0 or * is any free port
  ipc://PATH                   a local socket, refused while another server serves PATH;
                               other ZeroMQ endpoints are bound as given
The server has no authentication: serving every interface lets anyone who can reach the
port use it, and prints a warning to standard error. On start the bound endpoint is printed
as one line: "Listening on ENDPOINT" (which is accepted back as ADDRESS). SIGHUP makes the
server forget every connected client: their later requests are answered
CLIENT_NOT_RECOGNISED. So is a client that sent nothing for its connection time-out (at
least 3 seconds), and its reads are dropped.

Options:
  --help                       show this text and exit
  --bind-all                   a bare PORT serves every interface
  --max-clients N              refuse CONNECT while N clients are connected (default 1000,
                               0: no limit)
  --threads N                  worker threads that call reads (default 2)
  --load-delay MS              answer LOADING to load requests for MS milliseconds
  --call-delay MS              a read is ready MS milliseconds after its last block
  --call-time MS               each read keeps a worker thread busy for MS milliseconds
  --max-reads-in-flight N      answer NOT_READY to a client's first block while it has
                               N reads in flight (0: no limit)
  --lose-reads                 drop called reads and report them lost in NONE_PENDING
  --lost-reads-file PATH       append to PATH a line "reported<TAB>CONNECTION<TAB>READ_ID"
                               for every read reported lost, before the report goes out,
                               and "acknowledged<TAB>CONNECTION" when that connection's
                               next request shows the client received the report
  --refuse-config NAME         fail LOAD_CONFIG for NAME (may be given several times)
  --silent                     never answer any request
  --silent-requests N          leave the next N requests unanswered
  --zero-work                  skip calling: reads come back at once, empty

Transport security:
  --curve-keys PREFIX          serve over CURVE with the key pair in PREFIX.public and
                               PREFIX.secret ("tamsu keygen PREFIX" makes one): traffic is
                               encrypted, and clients need PREFIX.public as the server key
  --curve-allow FILE           with --curve-keys: admit only the clients whose public key
                               is in FILE (one a line); without it every client that knows
                               the server's public key is admitted
)";

// Files named on the command line, read once the command line is known to be usable.
struct CurveFiles {
    std::string key_prefix;
    std::string allow_list;
};

const char* required_value(const std::string& flag, const char* text)
{
    if (text == nullptr) {
        throw std::invalid_argument(flag + " needs a value");
    }
    return text;
}

unsigned long parse_number(const std::string& flag, const char* text)
{
    const std::string value(required_value(flag, text));
    const auto number = program_support::parse_whole_number(value, 0, ULONG_MAX);
    if (!number) {
        throw std::invalid_argument(flag + " needs a non-negative number, not '" + value + "'");
    }
    return *number;
}

reference_server::ServerOptions parse_arguments(int argc, char** argv, bool& help,
                                                CurveFiles& curve)
{
    reference_server::ServerOptions options;
    options.address.clear();
    auto& faults = options.faults;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (argument == "--help" || argument == "-h") {
            help = true;
            return options;
        }
        if (argument == "--threads") {
            options.worker_threads = parse_number(argument, next);
            ++i;
        } else if (argument == "--bind-all") {
            options.bind_all = true;
        } else if (argument == "--max-clients") {
            options.max_clients = parse_number(argument, next);
            ++i;
        } else if (argument == "--load-delay") {
            faults.load_delay = std::chrono::milliseconds(parse_number(argument, next));
            ++i;
        } else if (argument == "--call-delay") {
            faults.call_delay = std::chrono::milliseconds(parse_number(argument, next));
            ++i;
        } else if (argument == "--call-time") {
            faults.call_time = std::chrono::milliseconds(parse_number(argument, next));
            ++i;
        } else if (argument == "--max-reads-in-flight") {
            faults.max_reads_in_flight = static_cast<std::uint32_t>(parse_number(argument, next));
            ++i;
        } else if (argument == "--lose-reads") {
            faults.lose_reads = true;
        } else if (argument == "--lost-reads-file") {
            options.lost_reads_file = required_value(argument, next);
            ++i;
        } else if (argument == "--refuse-config") {
            faults.refused_configs.emplace_back(required_value(argument, next));
            ++i;
        } else if (argument == "--silent") {
            faults.silent = true;
        } else if (argument == "--silent-requests") {
            faults.silent_requests = static_cast<std::uint32_t>(parse_number(argument, next));
            ++i;
        } else if (argument == "--zero-work") {
            faults.zero_work = true;
        } else if (argument == "--curve-keys") {
            curve.key_prefix = required_value(argument, next);
            ++i;
        } else if (argument == "--curve-allow") {
            curve.allow_list = required_value(argument, next);
            ++i;
        } else if (argument.rfind("--", 0) == 0) {
            throw std::invalid_argument("unknown option " + argument);
        } else if (options.address.empty()) {
            options.address = argument;
        } else {
            throw std::invalid_argument("more than one address given");
        }
    }
    if (options.address.empty()) {
        throw std::invalid_argument("no address given");
    }
    if (!curve.allow_list.empty() && curve.key_prefix.empty()) {
        throw std::invalid_argument("--curve-allow needs --curve-keys");
    }
    reference_server::to_bind_endpoint(options.address, options.bind_all);  // throws when unusable
    return options;
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
    reference_server::ServerOptions options;
    bool help = false;
    CurveFiles curve;
    try {
        options = parse_arguments(argc, argv, help, curve);
    } catch (const std::exception& error) {
        std::cerr << "tamsu_basecall_server: " << error.what() << "\n\n" << k_usage;
        return 2;
    }
    if (help) {
        std::cout << k_usage;
        return 0;
    }

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
