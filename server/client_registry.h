#pragma once

#include "server/client_state.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace reference_server {

// The connected clients by connection id. A client that names its connection id in no request
// for longer than its idle limit has gone away unannounced (killed, or its host lost): it is
// dropped with its reads, as if it had disconnected. At most max_clients are kept at a time.
// Not thread-safe: the server's state lock guards it.
class ClientRegistry {
public:
    using Clock = std::chrono::steady_clock;

    // 0: no limit on clients.
    explicit ClientRegistry(std::size_t max_clients);

    // The client's connection time-out (ms), raised to a floor that its heartbeat keeps.
    static Clock::duration idle_limit(std::uint32_t timeout_ms);

    std::size_t max_clients() const { return m_max_clients; }
    std::size_t size() const { return m_clients.size(); }
    bool full() const { return m_max_clients > 0 && m_clients.size() >= m_max_clients; }

    // Registers `client` under its id, active at `now`.
    void add(ClientState client, Clock::time_point now);
    // The client, marked active at `now`; null for an unknown id, a request signed by another
    // CURVE key than the one that connected the client (`key`, empty without CURVE), or a client
    // already past its idle limit (which the next expire drops).
    ClientState* touch(std::string_view id, std::string_view key, Clock::time_point now);
    // The client, without marking it active; null for an unknown id.
    ClientState* find(std::string_view id);
    void remove(std::string_view id);
    void clear() { m_clients.clear(); }
    // Drops every client past its idle limit at `now` and returns their ids.
    std::vector<std::string> expire(Clock::time_point now);

    template <typename Visit>
    void for_each(Visit visit) const
    {
        for (const auto& entry : m_clients) {
            visit(entry.second.client);
        }
    }

private:
    struct Entry {
        ClientState client;
        Clock::duration idle_limit;
        Clock::time_point last_active;
    };

    std::size_t m_max_clients;
    // Looked up by the connection id of every request, without copying it.
    std::map<std::string, Entry, std::less<>> m_clients;
};

}  // namespace reference_server
