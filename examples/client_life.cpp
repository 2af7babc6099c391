// The usual life of a client: set parameters, connect, pass reads from several threads while
// collecting called reads, finish, and handle errors.
//   client_life ADDRESS [CONFIG] [READS]
#include <client/tamsu_client.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A synthetic read: the host fills the id, the digitiser offset and scaling, and the samples.
tamsu::Read make_read(unsigned long tag, std::size_t length)
{
    std::vector<std::int16_t> samples(length);
    for (std::size_t i = 0; i < length; ++i) {
        samples[i] = static_cast<std::int16_t>(450 + (i * 7919 + tag * 104729) % 150);
    }
    tamsu::Read read;
    read.set_read_tag(tag);  // unique among this client's reads in flight
    read.get_metadata().insert("read_id", "example_read_" + std::to_string(tag));
    read.get_metadata().insert("daq_offset", 0.0f);
    read.get_metadata().insert("daq_scaling", 1.0f);
    // The read takes the samples over; nothing is copied again on the way to the server.
    read.get_datasets().emplace(interfaces::dataset::raw_data,
                                vask::data_wrappers::DataView(samples, true));
    return read;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " ADDRESS [CONFIG] [READS]\n";
        return 2;
    }
    const std::string config = argc > 2 ? argv[2] : "toy_flipflop_fast";
    const unsigned long total = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 200;

    tamsu::TamsuClient client(argv[1], config);
    client.set_name("client_life example");
    client.set_max_reads_queued(10);
    client.set_state_change_handler([](auto old_status, auto new_status, std::string error) {
        std::cerr << "status " << old_status << " -> " << new_status << " " << error << '\n';
    });
    const auto connected = client.connect();
    if (connected != tamsu::Result::success) {
        std::cerr << "connect failed: " << connected << " " << client.get_error_message() << '\n';
        return 1;
    }

    // Several producer threads; pass_read may be called from any thread.
    constexpr unsigned long k_producers = 4;
    std::atomic<unsigned long> refused{0};
    std::atomic<unsigned long> producers_done{0};
    std::vector<std::thread> producers;
    for (unsigned long p = 0; p < k_producers; ++p) {
        producers.emplace_back([&, p] {
            for (unsigned long tag = 1 + p; tag <= total; tag += k_producers) {
                auto read = make_read(tag, 2000 + 37 * tag);
                tamsu::PassReadResult result;
                // queue_full means the client is busy: wait and offer the same read again.
                while ((result = client.pass_read(read, 100)) ==
                       tamsu::PassReadResult::queue_full) {
                }
                if (result != tamsu::PassReadResult::success) {
                    ++refused;
                }
            }
            ++producers_done;
        });
    }

    // Meanwhile collect what has been called.
    std::list<tamsu::Read> called;
    std::size_t bases = 0;
    const auto take = [&] {
        std::list<tamsu::Read> batch;
        client.get_completed_reads(batch);
        for (const auto& read : batch) {
            bases += read.get_datasets().at(interfaces::dataset::sequence).get_string().size();
        }
        called.splice(called.end(), batch);
    };
    while (producers_done < k_producers) {
        take();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (auto& producer : producers) {
        producer.join();
    }
    // finish waits until every passed read is back (here at most 60 s), then disconnects.
    const auto finished = client.finish(60);
    take();
    if (finished != tamsu::Result::success) {
        std::cerr << "finish: " << finished << " " << client.get_error_message() << '\n';
        return 1;
    }
    std::cout << "reads called: " << called.size() << " of " << total << ", refused: " << refused
              << ", bases: " << bases << '\n';
    return called.size() == total ? 0 : 1;
}
