#include "library_stream.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <stdexcept>
#include <thread>
#include <vector>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

std::size_t stream(tamsu::TamsuClient& client, const std::vector<std::int16_t>& samples,
                   Clock::time_point deadline)
{
    std::list<tamsu::Read> done;
    std::size_t returned = 0;
    const auto collect = [&] {
        client.get_completed_reads(done);
        returned += done.size();
        done.clear();
    };
    std::uint64_t tag = 0;
    while (Clock::now() < deadline) {
        // Every read points at the same signal, so the host costs nothing but its metadata.
        auto read = make_read(++tag, samples, false);
        while (client.pass_read(read, 10) == tamsu::PassReadResult::queue_full) {
            collect();
        }
        collect();
    }
    if (client.finish(600) != tamsu::Result::success) {
        throw std::runtime_error("finish failed: " + client.get_error_message());
    }
    collect();
    return returned;
}

}  // namespace

std::vector<std::int16_t> make_signal(std::size_t samples)
{
    std::vector<std::int16_t> signal(samples);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        signal[i] = static_cast<std::int16_t>(400 + (i * 7919) % 200);
    }
    return signal;
}

tamsu::Read make_read(std::uint64_t tag, const std::vector<std::int16_t>& signal, bool own)
{
    tamsu::Read read;
    read.set_read_tag(tag);
    auto& metadata = read.get_metadata();
    metadata.insert("read_id", "bench_" + std::to_string(tag));
    metadata.insert("daq_offset", 0.f);
    metadata.insert("daq_scaling", 1.f);
    if (own) {
        auto copy = signal;
        read.get_datasets().emplace(interfaces::dataset::raw_data,
                                    vask::data_wrappers::DataView(copy, true));
    } else {
        read.get_datasets().emplace(interfaces::dataset::raw_data,
                                    vask::data_wrappers::DataView(signal.data(), signal.size()));
    }
    return read;
}

std::unique_ptr<tamsu::TamsuClient> connect_client(const std::string& address)
{
    auto client = std::make_unique<tamsu::TamsuClient>(address, "toy_flipflop_fast");
    if (client->connect() != tamsu::Result::success) {
        throw std::runtime_error("connect failed: " + client->get_error_message());
    }
    return client;
}

double library_reads_per_second(const std::string& address, std::size_t samples,
                                std::size_t clients, double seconds)
{
    std::vector<std::unique_ptr<tamsu::TamsuClient>> connected;
    for (std::size_t i = 0; i < clients; ++i) {
        connected.push_back(connect_client(address));
    }
    const auto signal = make_signal(samples);
    std::atomic<std::size_t> reads{0};
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(seconds));
    std::vector<std::thread> hosts;
    for (auto& client : connected) {
        hosts.emplace_back([&, raw = client.get()] { reads += stream(*raw, signal, deadline); });
    }
    for (auto& host : hosts) {
        host.join();
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    return static_cast<double>(reads) / elapsed.count();
}

std::vector<double> library_read_latencies(const std::string& address, std::size_t samples,
                                           std::size_t warm_up, std::size_t reads)
{
    const auto client = connect_client(address);
    const auto signal = make_signal(samples);
    std::list<tamsu::Read> done;
    std::vector<double> latencies;
    for (std::uint64_t tag = 1; tag <= warm_up + reads; ++tag) {
        auto read = make_read(tag, signal, false);
        const auto start = Clock::now();
        if (client->pass_read(read, 1000) != tamsu::PassReadResult::success) {
            throw std::runtime_error("pass_read failed: " + client->get_error_message());
        }
        // Looking again at once, giving way to the client's threads, so that what is timed is
        // the library's and not a host's polling interval.
        while (done.empty()) {
            std::this_thread::yield();
            client->get_completed_reads(done);
        }
        const std::chrono::duration<double, std::micro> elapsed = Clock::now() - start;
        done.clear();
        if (tag > warm_up) {
            latencies.push_back(elapsed.count());
        }
    }
    return latencies;
}

}  // namespace bench
