#include "server/client_registry.h"

#include <algorithm>

namespace reference_server {

namespace {

// A quiet client pings once a second; a shorter limit would drop live clients between their
// heartbeats (and a loaded host may delay one).
constexpr auto k_min_idle_limit = std::chrono::seconds(3);

}  // namespace

ClientRegistry::ClientRegistry(std::size_t max_clients)
        : m_max_clients(max_clients)
{
}

ClientRegistry::Clock::duration ClientRegistry::idle_limit(std::uint32_t timeout_ms)
{
    return std::max<Clock::duration>(std::chrono::milliseconds(timeout_ms), k_min_idle_limit);
}

void ClientRegistry::add(ClientState client, Clock::time_point now)
{
    const auto limit = idle_limit(client.info.m_timeout_interval);
    auto id = client.id;
    m_clients.insert_or_assign(std::move(id), Entry{std::move(client), limit, now});
}

ClientState* ClientRegistry::touch(std::string_view id, std::string_view key, Clock::time_point now)
{
    const auto found = m_clients.find(id);
    if (found == m_clients.end() || found->second.client.owner_key != key ||
        now - found->second.last_active > found->second.idle_limit) {
        return nullptr;
    }
    found->second.last_active = now;
    return &found->second.client;
}

ClientState* ClientRegistry::find(std::string_view id)
{
    const auto found = m_clients.find(id);
    return found == m_clients.end() ? nullptr : &found->second.client;
}

void ClientRegistry::remove(std::string_view id)
{
    const auto found = m_clients.find(id);
    if (found != m_clients.end()) {
        m_clients.erase(found);
    }
}

std::vector<std::string> ClientRegistry::expire(Clock::time_point now)
{
    std::vector<std::string> expired;
    for (auto entry = m_clients.begin(); entry != m_clients.end();) {
        if (now - entry->second.last_active > entry->second.idle_limit) {
            expired.push_back(entry->first);
            entry = m_clients.erase(entry);
        } else {
            ++entry;
        }
    }
    return expired;
}

}  // namespace reference_server
