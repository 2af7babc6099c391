#include "tools/connection_watch.h"

#include "tools/interrupt_flag.h"

#include <gsl/util>

#include <chrono>
#include <thread>

namespace tamsu_cli {

namespace {

// A connection that takes longer than this is worth a word; a quick one is not.
constexpr auto k_quiet_connect = std::chrono::seconds(1);
constexpr auto k_watch_step = std::chrono::milliseconds(20);

}  // namespace

ConnectionWatch::ConnectionWatch(std::string server, std::ostream& err)
        : m_server(std::move(server))
        , m_err(err)
{
}

tamsu::TamsuClient::StateChangeHandler ConnectionWatch::handler() const
{
    // Every attempt, the first and each reconnection, starts by preparing the connection.
    return [attempts = m_attempts](tamsu::ConnectionStatus, tamsu::ConnectionStatus new_status,
                                   const std::string&) {
        if (new_status == tamsu::ConnectionStatus::preparing_connection) {
            ++*attempts;
        }
    };
}

tamsu::Result ConnectionWatch::connect(tamsu::TamsuClient& client)
{
    Returned returned;
    std::thread watcher([&] { watch(client, returned); });
    const auto stop_watching = gsl::finally([&] {
        {
            std::lock_guard<std::mutex> lock(returned.mutex);
            returned.value = true;
        }
        returned.changed.notify_all();
        watcher.join();
    });
    return client.connect();
}

void ConnectionWatch::watch(tamsu::TamsuClient& client, Returned& returned)
{
    const auto start = std::chrono::steady_clock::now();
    while (true) {
        {
            std::unique_lock<std::mutex> lock(returned.mutex);
            if (returned.changed.wait_for(lock, k_watch_step, [&] { return returned.value; })) {
                break;
            }
        }
        if (InterruptFlag::raised()) {
            // Until connect returns: an interrupt may come before the client has a connection
            // to end.
            client.disconnect();
        } else if (std::chrono::steady_clock::now() - start >= k_quiet_connect) {
            report_attempts();
        }
    }
    m_reported = m_attempts->load();
}

void ConnectionWatch::report_reconnection(const tamsu::TamsuClient& client)
{
    // The handler hears of an attempt later than the client makes it: only a client that is
    // not connected is still at it.
    if (client.get_status() != tamsu::ConnectionStatus::connected) {
        report_attempts();
    }
}

void ConnectionWatch::report_attempts()
{
    const auto attempts = m_attempts->load();
    if (attempts > m_reported) {
        m_reported = attempts;
        m_err << "tamsu: connecting to " << m_server << ", attempt " << attempts << std::endl;
    }
}

}  // namespace tamsu_cli
