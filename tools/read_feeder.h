#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace tamsu {
class Read;
class TamsuClient;
}  // namespace tamsu

namespace tamsu_cli {

class RawReadSource;

// Reads raw reads from the input on a thread of its own and passes them to the client, waiting
// whenever the client's queue is full, so that the queue stays full while another thread
// collects the called reads.
class ReadFeeder {
public:
    ReadFeeder(RawReadSource& reader, tamsu::TamsuClient& client);
    // Stops and joins the thread.
    ~ReadFeeder();
    ReadFeeder(const ReadFeeder&) = delete;
    ReadFeeder& operator=(const ReadFeeder&) = delete;

    void start();
    // Asks the thread to stop after the read in hand and joins it.
    void stop();

    // The thread has stopped: at the end of the input, on an error or on request.
    bool done() const { return m_done; }
    unsigned long passed() const { return m_passed; }
    // Why the thread stopped early; empty when it did not.
    std::string error() const;

private:
    void run();
    void feed();
    bool pass(tamsu::Read& read);
    void fail(const std::string& message);

    RawReadSource& m_reader;
    tamsu::TamsuClient& m_client;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<unsigned long> m_passed{0};
    mutable std::mutex m_error_mutex;
    std::string m_error;
};

}  // namespace tamsu_cli
