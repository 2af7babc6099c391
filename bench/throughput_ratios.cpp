// The library's throughput as a share of what plain ZeroMQ moves on the same machine and
// endpoint: for reads of 4,000, 40,000 and 400,000 samples, over ipc:// and tcp loopback, with one
// and several clients, against the reference server with calling switched off; then the
// command-line basecaller on a file. Every figure is the median of the repetitions, and each
// ratio the median of per-repetition ratios (library and limit measured back to back, each with
// a peer or server of its own). The command-line rows read text ("cli") and BLOW5 ("cli-blow5").
//   throughput_ratios [--seconds S] [--repetitions R] [--clients N] [--samples N] [--via ipc|tcp]
//                     [--no-cli] [--pinned] [--verbose] [--quick]
//   (--clients 1 measures one client only; --verbose prints every repetition's ratio and about
//   how much CPU time a read cost each side; --pinned runs servers and peers on one CPU and the
//   clients on another)
//   throughput_ratios --latency [--samples N] [--via ipc|tcp] [--pinned] [--quick]
//   (the time one read takes with no other in flight, p50 and p99, the library's from pass_read
//   to its return in get_completed_reads next to the plain ZeroMQ exchanges of the same read)
//   throughput_ratios --library ADDRESS [--samples N] [--seconds S]
//   (one client against a server already at ADDRESS; prints only its reads per second, for
//   drivers that compare other hosts of the library with it)
//   throughput_ratios --peer ENDPOINT...      (the plain ZeroMQ peer; started by the above)
#include "bare_transport.h"
#include "child_programs.h"
#include "exchange_plan.h"
#include "library_stream.h"
#include "or_usage.h"
#include "program_support/number_parsing.h"

#include <arpa/inet.h>
#include <boost/log/core/core.hpp>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    double seconds = 2.0;
    int repetitions = 9;
    std::size_t clients = 4;
    std::vector<std::size_t> sizes{4000, 40000, 400000};
    std::string via;  // empty: both transports
    bool cli = true;
    bool verbose = false;
    bool pinned = false;
    bool latency = false;
    std::size_t latency_reads = 1000;
    std::optional<int> server_cpu;  // set when pinned: where servers and peers run
    std::string library_address;    // set: measure one client against this server only
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double megabytes(double reads_per_second, std::size_t samples)
{
    return reads_per_second * static_cast<double>(samples) * sizeof(short) / 1e6;
}

int free_tcp_port()
{
    const int handle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(handle, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
    close(handle);
    return ntohs(address.sin_port);
}

// A new endpoint for every process started, as a host gives it to the client (and the server
// takes it), and as a plain ZeroMQ socket takes it.
struct Endpoint {
    std::string address;
    std::string zmq;
};

Endpoint fresh_endpoint(const std::string& via, const fs::path& directory)
{
    static int next = 0;
    if (via == "ipc") {
        const auto address = "ipc://" + (directory / (std::to_string(++next) + ".sock")).string();
        return {address, address};
    }
    const auto address = "127.0.0.1:" + std::to_string(free_tcp_port());
    return {address, "tcp://" + address};
}

// Each repetition starts its own peer or server: where the scheduler first puts a process's
// threads tends to stick for its life, and it moves a process's throughput by up to 20%, so
// one process per run would make every repetition of a run alike.
template <typename Measure>
auto with_peer(const Options& options, const std::string& via, const fs::path& directory,
               const Measure& measure)
{
    const auto endpoint = fresh_endpoint(via, directory);
    auto peer =
            bench::start_listening("/proc/self/exe", {"--peer", endpoint.zmq}, options.server_cpu);
    const auto result = measure(endpoint.zmq);
    bench::stop_echo_peer(endpoint.zmq);
    peer->wait();
    return result;
}

double bare_run(const Options& options, const std::string& via, const fs::path& directory,
                const std::vector<bench::Exchange>& plan, std::size_t clients)
{
    return with_peer(options, via, directory, [&](const std::string& endpoint) {
        return bench::bare_reads_per_second(endpoint, plan, clients, options.seconds);
    });
}

struct Server {
    Endpoint endpoint;
    std::unique_ptr<program_support::ChildProcess> process;  // stopped when the server goes
};

Server start_server(const Options& options, const std::string& via, const fs::path& directory)
{
    auto endpoint = fresh_endpoint(via, directory);
    auto process = bench::start_listening(TAMSU_BASECALL_SERVER_PATH,
                                          {"--zero-work", endpoint.address}, options.server_cpu);
    return {std::move(endpoint), std::move(process)};
}

double library_run(const Options& options, const std::string& via, const fs::path& directory,
                   std::size_t samples, std::size_t clients)
{
    const auto server = start_server(options, via, directory);
    return bench::library_reads_per_second(server.endpoint.address, samples, clients,
                                           options.seconds);
}

struct Row {
    double bare = 0;
    double library = 0;
    double ratio = 0;
    double lowest_ratio = 0;  // of the repetitions: the ratio's spread
    double highest_ratio = 0;
};

// CPU time used so far by this process and by its children that have been waited for.
struct CpuTimes {
    double own = 0;
    double children = 0;
};

double seconds_of(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

CpuTimes cpu_times()
{
    rusage own{}, children{};
    getrusage(RUSAGE_SELF, &own);
    getrusage(RUSAGE_CHILDREN, &children);
    return {seconds_of(own.ru_utime) + seconds_of(own.ru_stime),
            seconds_of(children.ru_utime) + seconds_of(children.ru_stime)};
}

// One side's reads per second, and about how much CPU time per read its clients (this process,
// or the command-line basecaller) and its server or peer spent, in microseconds.
struct Side {
    double rate = 0;
    double client_us = 0;
    double server_us = 0;
};

Side measure_side(const std::function<double()>& side, bool child_is_client)
{
    const auto before = cpu_times();
    const auto start = Clock::now();
    const auto rate = side();
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    const auto after = cpu_times();
    const auto reads = rate * elapsed.count();
    const auto own = (after.own - before.own) * 1e6 / reads;
    const auto children = (after.children - before.children) * 1e6 / reads;
    return child_is_client ? Side{rate, own + children, 0} : Side{rate, own, children};
}

// `cli`: the library side runs the command-line basecaller, whose CPU time is counted with the
// server's (both are children), and so reported as the client's.
Row measure(const Options& options, const std::function<double()>& bare,
            const std::function<double()>& library, bool cli = false)
{
    std::vector<double> bares, libraries, ratios;
    for (int i = 0; i < options.repetitions; ++i) {
        const auto limit = measure_side(bare, false);
        const auto ours = measure_side(library, cli);
        bares.push_back(limit.rate);
        libraries.push_back(ours.rate);
        ratios.push_back(libraries.back() / bares.back());
        if (options.verbose) {
            std::printf("  repetition %d: limit %.0f, library %.0f, ratio %.2f; CPU us per read: "
                        "limit %.0f + %.0f, library %.0f + %.0f (clients + server)\n",
                        i + 1, limit.rate, ours.rate, ratios.back(), limit.client_us,
                        limit.server_us, ours.client_us, ours.server_us);
        }
    }
    const auto [lowest, highest] = std::minmax_element(ratios.begin(), ratios.end());
    return {median(bares), median(libraries), median(ratios), *lowest, *highest};
}

void print_row(const char* source, const std::string& transport, std::size_t samples,
               std::size_t clients, const Row& row)
{
    std::printf("%-9s %-5s %8zu %7zu %12.0f %10.1f %12.0f %10.1f %7.2f %4.2f-%4.2f\n", source,
                transport.c_str(), samples, clients, row.bare, megabytes(row.bare, samples),
                row.library, megabytes(row.library, samples), row.ratio, row.lowest_ratio,
                row.highest_ratio);
    std::fflush(stdout);
}

// Calls the reads of a file written by "tamsu simulate" with "tamsu basecall" and returns reads
// per second over the whole run (start-up and decoding included).
double cli_reads_per_second(const fs::path& input, std::size_t reads, const std::string& server,
                            const fs::path& output)
{
    const auto start = Clock::now();
    program_support::ChildProcess cli(
            TAMSU_CLI_PATH,
            {"basecall", input.string(), "--server", server, "--output-dir", output.string()},
            bench::piped_output());
    cli.read_all();
    if (cli.wait() != 0) {
        std::fprintf(stderr, "tamsu basecall failed\n");
        std::exit(1);
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    return static_cast<double>(reads) / elapsed.count();
}

// `extension` picks the format: ".txt" for text, ".blow5" for BLOW5.
fs::path simulate(const fs::path& directory, std::size_t samples, std::size_t reads,
                  const std::string& extension)
{
    const auto file = directory / ("reads_" + std::to_string(samples) + extension);
    const auto length = std::to_string(samples);
    program_support::ChildProcess simulator(TAMSU_CLI_PATH,
                                            {"simulate", "--count", std::to_string(reads),
                                             "--min-length", length, "--max-length", length,
                                             "--output", file.string()},
                                            bench::piped_output());
    if (simulator.wait() != 0) {
        std::fprintf(stderr, "tamsu simulate failed\n");
        std::exit(1);
    }
    return file;
}

constexpr const char* k_usage =
        "usage: throughput_ratios [--seconds S] [--repetitions R] [--clients N] [--samples N] "
        "[--via ipc|tcp] [--no-cli] [--pinned] [--verbose] [--quick]\n"
        "       throughput_ratios --latency [--samples N] [--via ipc|tcp] [--pinned] [--quick]\n"
        "       throughput_ratios --library ADDRESS [--samples N] [--seconds S]\n";

unsigned long whole_number(const char* text)
{
    return bench::or_usage(program_support::parse_whole_number(text, 1, INT_MAX), k_usage);
}

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool has_value = i + 1 < argc;
        if (word == "--seconds" && has_value) {
            options.seconds = bench::or_usage(program_support::parse_fraction(argv[++i]), k_usage);
        } else if (word == "--repetitions" && has_value) {
            options.repetitions = static_cast<int>(whole_number(argv[++i]));
        } else if (word == "--clients" && has_value) {
            options.clients = whole_number(argv[++i]);
        } else if (word == "--samples" && has_value) {
            options.sizes = {whole_number(argv[++i])};
        } else if (word == "--via" && has_value) {
            options.via = argv[++i];
            if (options.via != "ipc" && options.via != "tcp") {
                bench::exit_with_usage(k_usage);
            }
        } else if (word == "--library" && has_value) {
            options.library_address = argv[++i];
        } else if (word == "--no-cli") {
            options.cli = false;
        } else if (word == "--pinned") {
            options.pinned = true;
        } else if (word == "--latency") {
            options.latency = true;
        } else if (word == "--verbose") {
            options.verbose = true;
        } else if (word == "--quick") {
            options.seconds = 0.5;
            options.repetitions = 1;
            options.latency_reads = 100;
        } else {
            bench::exit_with_usage(k_usage);
        }
    }
    return options;
}

int run_peer(int argc, char** argv)
{
    bench::run_echo_peer(std::vector<std::string>(argv + 2, argv + argc));
    return 0;
}

std::vector<std::string> transports(const Options& options)
{
    if (!options.via.empty()) {
        return {options.via};
    }
    return {"ipc", "tcp"};
}

void run_ratios(const Options& options, const fs::path& directory)
{
    std::printf("%-9s %-5s %8s %7s %12s %10s %12s %10s %7s %9s\n", "source", "via", "samples",
                "clients", "limit r/s", "limit MB/s", "library r/s", "lib MB/s", "ratio", "spread");
    std::vector<std::size_t> client_counts{1};
    if (options.clients > 1) {
        client_counts.push_back(options.clients);
    }
    for (const auto& via : transports(options)) {
        for (const auto samples : options.sizes) {
            for (const auto clients : client_counts) {
                const auto plan = bench::plan_read(samples);
                const auto row = measure(
                        options, [&] { return bare_run(options, via, directory, plan, clients); },
                        [&] { return library_run(options, via, directory, samples, clients); });
                print_row("client", via, samples, clients, row);
            }
        }
    }

    // The command-line basecaller against the ipc limit of one client, on a file of 20 million
    // samples (at least 50 reads): under a second of work, which keeps the file small. Started
    // from the pinned thread, it runs where the clients do.
    for (const auto& [source, extension] :
         {std::pair<const char*, const char*>{"cli", ".txt"}, {"cli-blow5", ".blow5"}}) {
        for (std::size_t i = 0; options.cli && i < options.sizes.size(); ++i) {
            const auto samples = options.sizes[i];
            const auto reads = std::max<std::size_t>(50, 20000000 / samples);
            const auto input = simulate(directory, samples, reads, extension);
            const auto plan = bench::plan_read(samples);
            const auto row = measure(
                    options, [&] { return bare_run(options, "ipc", directory, plan, 1); },
                    [&] {
                        const auto server = start_server(options, "ipc", directory);
                        return cli_reads_per_second(input, reads, server.endpoint.address,
                                                    directory / "out");
                    },
                    true);
            print_row(source, "ipc", samples, 1, row);
        }
    }
}

// The nearest-rank percentile `share` (0.5 for the median) of `values`.
double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    const auto rank =
            static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

void run_latencies(const Options& options, const fs::path& directory)
{
    // Enough reads before timing for both sides to have connected and allocated their buffers.
    constexpr std::size_t warm_up = 20;
    std::printf("%-5s %8s %11s %11s %11s %11s\n", "via", "samples", "limit p50", "limit p99",
                "library p50", "library p99");
    for (const auto& via : transports(options)) {
        for (const auto samples : options.sizes) {
            const auto plan = bench::plan_read(samples);
            const auto bare = with_peer(options, via, directory, [&](const std::string& endpoint) {
                return bench::bare_read_latencies(endpoint, plan, warm_up, options.latency_reads);
            });
            const auto server = start_server(options, via, directory);
            const auto library = bench::library_read_latencies(server.endpoint.address, samples,
                                                               warm_up, options.latency_reads);
            std::printf("%-5s %8zu %8.0f us %8.0f us %8.0f us %8.0f us\n", via.c_str(), samples,
                        percentile(bare, 0.5), percentile(bare, 0.99), percentile(library, 0.5),
                        percentile(library, 0.99));
            std::fflush(stdout);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--peer") == 0) {
        std::printf("Listening on %s\n", argv[2]);
        std::fflush(stdout);
        return run_peer(argc, argv);
    }
    auto options = parse(argc, argv);
    boost::log::core::get()->set_logging_enabled(false);
    if (!options.library_address.empty()) {
        std::printf("%.1f\n",
                    bench::library_reads_per_second(options.library_address, options.sizes.front(),
                                                    1, options.seconds));
        return 0;
    }
    std::string placement = "default placement";
    if (options.pinned) {
        const auto cpus = bench::pin_clients();
        options.server_cpu = cpus.server;
        placement = "pinned: servers and peers on CPU " + std::to_string(cpus.server) +
                    ", clients on CPU " + std::to_string(cpus.clients);
    }
    const auto directory = fs::temp_directory_path() / ("tamsu_bench_" + std::to_string(getpid()));
    fs::create_directories(directory);
    if (options.latency) {
        std::printf("one read in flight, %zu reads per figure, %s\n", options.latency_reads,
                    placement.c_str());
        run_latencies(options, directory);
    } else {
        std::printf("%.1f s per measurement, median of %d, %s\n", options.seconds,
                    options.repetitions, placement.c_str());
        run_ratios(options, directory);
    }
    fs::remove_all(directory);
    return 0;
}
