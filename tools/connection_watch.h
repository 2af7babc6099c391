#pragma once

#include "client/result.h"
#include "client/tamsu_client.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

namespace tamsu_cli {

// Keeps the user informed while a client waits for its server, and lets an interrupt end the
// wait. Counts connection attempts through the client's state-change handler; during connect a
// thread of its own names the attempt in progress once connecting takes a while, and the first
// SIGINT or SIGTERM ends connect through disconnect.
class ConnectionWatch {
public:
    // `server` names the server in messages ("server ADDRESS").
    ConnectionWatch(std::string server, std::ostream& err);

    // For the client's set_state_change_handler, before connect. The handler may outlive the
    // watch.
    tamsu::TamsuClient::StateChangeHandler handler() const;

    // The client's connect, watched as described above. Throws what connect throws.
    tamsu::Result connect(tamsu::TamsuClient& client);

    // After connect: names a reconnection attempt not named yet while the client is not
    // connected. One thread at a time.
    void report_reconnection(const tamsu::TamsuClient& client);

private:
    // Set when connect returns, waking the watching thread at once: the caller waits for it.
    struct Returned {
        std::mutex mutex;  // guards value
        std::condition_variable changed;
        bool value = false;
    };

    void report_attempts();
    // Until connect has returned.
    void watch(tamsu::TamsuClient& client, Returned& returned);

    std::string m_server;
    std::ostream& m_err;
    std::shared_ptr<std::atomic<unsigned long>> m_attempts =
            std::make_shared<std::atomic<unsigned long>>(0);
    unsigned long m_reported = 0;
};

}  // namespace tamsu_cli
