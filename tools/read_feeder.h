#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace tamsu_cli {

class ClientPool;
class RawReadSource;

// Reads raw reads from the input on a thread of its own and passes them to the clients, waiting
// whenever every client's queue is full, so that the queues stay full while another thread
// collects the called reads.
class ReadFeeder {
public:
    ReadFeeder(RawReadSource& reader, ClientPool& clients);
    // Stops and joins the thread.
    ~ReadFeeder();
    ReadFeeder(const ReadFeeder&) = delete;
    ReadFeeder& operator=(const ReadFeeder&) = delete;

    void start();
    // Asks the thread to stop after the read in hand and joins it.
    void stop();

    // The thread has stopped: at the end of the input, on an error, when no server was left or
    // on request.
    bool done() const { return m_done; }
    unsigned long passed() const { return m_passed; }
    // Why the thread stopped early; empty when it did not.
    std::string error() const;

private:
    void run();
    void feed();
    void fail(const std::string& message);

    RawReadSource& m_reader;
    ClientPool& m_clients;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<unsigned long> m_passed{0};
    mutable std::mutex m_error_mutex;
    std::string m_error;
};

}  // namespace tamsu_cli
