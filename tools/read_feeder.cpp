#include "tools/read_feeder.h"

#include "tools/client_pool.h"
#include "tools/raw_read_source.h"

namespace tamsu_cli {

ReadFeeder::ReadFeeder(RawReadSource& reader, ClientPool& clients)
        : m_reader(reader)
        , m_clients(clients)
{
}

ReadFeeder::~ReadFeeder()
{
    stop();
}

void ReadFeeder::start()
{
    m_thread = std::thread([this] { run(); });
}

void ReadFeeder::stop()
{
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string ReadFeeder::error() const
{
    std::lock_guard<std::mutex> lock(m_error_mutex);
    return m_error;
}

void ReadFeeder::fail(const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_error_mutex);
    m_error = message;
}

void ReadFeeder::run()
{
    try {
        feed();
    } catch (const std::exception& error) {
        fail(error.what());
    }
    m_done = true;
}

void ReadFeeder::feed()
{
    while (!m_stop) {
        RawRead raw;
        if (!m_reader.next(raw) || !m_clients.pass(std::move(raw), m_stop)) {
            return;
        }
        ++m_passed;
    }
}

}  // namespace tamsu_cli
