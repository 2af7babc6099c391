// Reads per second through one engine against an in-process reference server, for reads of
// 4,000, 40,000 and 400,000 samples, with the toy caller and with calling switched off.
//   engine_throughput [SECONDS_PER_CASE]
#include "basecall_service/basecall_client.h"
#include "server/basecall_server.h"

#include <boost/filesystem.hpp>
#include <boost/log/core/core.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

interfaces::ReadHolder make_read(std::uint64_t tag, const std::vector<std::int16_t>& samples)
{
    interfaces::ReadHolder read;
    read.set_read_tag(tag);
    auto& metadata = read.get_metadata();
    metadata.insert("read_id", "bench_" + std::to_string(tag));
    metadata.insert("daq_offset", 0.f);
    metadata.insert("daq_scaling", 1.f);
    metadata.insert("duration", static_cast<unsigned long>(samples.size()));
    metadata.insert("model_stride", 5ul);
    auto copy = samples;
    read.get_datasets().emplace(interfaces::dataset::raw_data,
                                vask::data_wrappers::DataView(copy, true));
    return read;
}

struct Outcome {
    double reads_per_second = 0;
    double megabytes_per_second = 0;
    std::size_t reads = 0;
};

// Streams reads for about `seconds` through one engine, keeping the queue full, and counts the
// reads that came back.
Outcome run_case(const std::string& address, std::size_t samples_per_read, double seconds)
{
    basecall_service::BasecallClient engine(50000, 20, false, false, nullptr);
    ipc_tools::ConnectionInfo info;
    info.m_config_name = "toy_flipflop_fast";
    engine.connect(address, 10000, 10, info);
    if (engine.get_connection_state().get_status() != basecall_service::ClientStatus::connected) {
        std::fprintf(stderr, "could not connect\n");
        std::exit(1);
    }
    std::vector<std::int16_t> samples(samples_per_read);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(400 + (i * 7919) % 200);
    }
    std::list<std::unique_ptr<interfaces::ReadHolder>> done;
    std::size_t sent = 0;
    const auto start = Clock::now();
    const auto stop_sending = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < stop_sending) {
        auto read = make_read(++sent, samples);
        while (engine.pass_read(read, 10) == basecall_service::PassReadResult::queue_full) {
            engine.get_completed_reads(done);
        }
        engine.get_completed_reads(done);
    }
    engine.finish_by(600);
    engine.get_completed_reads(done);
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    Outcome outcome;
    outcome.reads = done.size();
    outcome.reads_per_second = done.size() / elapsed.count();
    outcome.megabytes_per_second =
            outcome.reads_per_second * samples_per_read * sizeof(std::int16_t) / 1e6;
    return outcome;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    boost::log::core::get()->set_logging_enabled(false);
    const auto dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path();
    boost::filesystem::create_directories(dir);
    std::printf("%-10s %-9s %10s %12s %10s\n", "calling", "samples", "reads/s", "raw MB/s",
                "reads");
    for (const bool zero_work : {false, true}) {
        reference_server::ServerOptions options;
        options.address = "ipc://" + (dir / "bench.sock").string();
        options.faults.zero_work = zero_work;
        reference_server::BasecallServer server(options);
        for (const std::size_t samples : {4000, 40000, 400000}) {
            const auto outcome = run_case(server.endpoint(), samples, seconds);
            std::printf("%-10s %-9zu %10.1f %12.1f %10zu\n", zero_work ? "off" : "toy", samples,
                        outcome.reads_per_second, outcome.megabytes_per_second, outcome.reads);
        }
    }
    boost::filesystem::remove_all(dir);
    return 0;
}
