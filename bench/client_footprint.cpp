// What a client costs the host when it is not moving reads, and whether its memory stays bounded
// while it moves many: the CPU share of an idle connected client, then the resident memory of
// this process sampled while one client streams reads that own their signal.
//   client_footprint [--reads N] [--samples S] [--idle-seconds T]
#include "child_programs.h"
#include "library_stream.h"
#include "or_usage.h"
#include "program_support/number_parsing.h"

#include <boost/log/core/core.hpp>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Options {
    std::size_t reads = 100000;
    std::size_t samples = 40000;
    double idle_seconds = 10;
};

double cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double resident_megabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atof(line.c_str() + 6) / 1024.0;
        }
    }
    return 0;
}

// Share of one core the process uses while its one client sits connected and idle.
double idle_core_share(const std::string& address, double seconds)
{
    const auto client = bench::connect_client(address);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto cpu_before = cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return (cpu_seconds() - cpu_before) / elapsed.count();
}

double mean(const std::vector<double>& values)
{
    return std::accumulate(values.begin(), values.end(), 0.0) /
           std::max<std::size_t>(1, values.size());
}

// Streams the reads, sampling resident memory every 1% of them, and prints what it saw.
void stream_and_sample(const std::string& address, const Options& options)
{
    const auto signal = bench::make_signal(options.samples);
    const auto baseline = resident_megabytes();
    const auto client = bench::connect_client(address);
    const auto connected = resident_megabytes();
    const auto step = std::max<std::size_t>(1, options.reads / 100);
    std::vector<double> samples;
    std::list<tamsu::Read> done;
    std::size_t returned = 0;
    for (std::size_t tag = 1; tag <= options.reads; ++tag) {
        auto read = bench::make_read(tag, signal, true);
        while (client->pass_read(read, 10) == tamsu::PassReadResult::queue_full) {
            client->get_completed_reads(done);
        }
        client->get_completed_reads(done);
        returned += done.size();
        done.clear();  // a host that writes its reads out and lets them go
        if (tag % step == 0) {
            samples.push_back(resident_megabytes());
        }
    }
    client->finish(600);
    client->get_completed_reads(done);
    returned += done.size();

    const auto tenth = std::max<std::size_t>(1, samples.size() / 10);
    const std::vector<double> first(samples.begin(), samples.begin() + tenth);
    const std::vector<double> last(samples.end() - tenth, samples.end());
    const auto peak = *std::max_element(samples.begin(), samples.end());
    const auto read_mib = static_cast<double>(options.samples * sizeof(std::int16_t)) / (1 << 20);
    std::printf("reads passed %zu, returned %zu, %zu samples each (%.3f MiB of signal)\n",
                options.reads, returned, options.samples, read_mib);
    std::printf("resident MiB: before connect %.1f, connected %.1f, peak while streaming %.1f\n",
                baseline, connected, peak);
    std::printf("peak above connected: %.1f MiB = %.1f reads' signal (queue limit 20 reads)\n",
                peak - connected, (peak - connected) / read_mib);
    std::printf("mean resident MiB over the first 10%%: %.1f, over the last 10%%: %.1f (growth "
                "%+.1f)\n",
                mean(first), mean(last), mean(last) - mean(first));
}

constexpr const char* k_usage =
        "usage: client_footprint [--reads N] [--samples S] [--idle-seconds T]\n";

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string word = argv[i];
        const auto whole_number = [&] {
            return bench::or_usage(program_support::parse_whole_number(argv[i + 1], 1, ULONG_MAX),
                                   k_usage);
        };
        if (word == "--reads") {
            options.reads = whole_number();
        } else if (word == "--samples") {
            options.samples = whole_number();
        } else if (word == "--idle-seconds") {
            options.idle_seconds =
                    bench::or_usage(program_support::parse_fraction(argv[i + 1]), k_usage);
        } else {
            bench::exit_with_usage(k_usage);
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv)
{
    const auto options = parse(argc, argv);
    boost::log::core::get()->set_logging_enabled(false);
    const auto directory =
            fs::temp_directory_path() / ("tamsu_footprint_" + std::to_string(getpid()));
    fs::create_directories(directory);
    const auto address = "ipc://" + (directory / "server.sock").string();
    {
        const auto server =
                bench::start_listening(TAMSU_BASECALL_SERVER_PATH, {"--zero-work", address});
        std::printf("idle connected client: %.2f%% of one core over %.0f s\n",
                    100 * idle_core_share(address, options.idle_seconds), options.idle_seconds);
        std::fflush(stdout);
        stream_and_sample(address, options);
    }
    fs::remove_all(directory);
    return 0;
}
