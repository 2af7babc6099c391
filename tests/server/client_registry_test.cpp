#include "server/client_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using reference_server::ClientRegistry;
using reference_server::ClientState;
using namespace std::chrono_literals;

ClientState client(const std::string& id, std::uint32_t timeout_ms, const std::string& key = {})
{
    ClientState state;
    state.id = id;
    state.info.m_timeout_interval = timeout_ms;
    state.owner_key = key;
    return state;
}

TEST(ClientRegistryTest, ClientsQuietForLongerThanTheirTimeOutExpire)
{
    ClientRegistry registry(0);
    const auto start = ClientRegistry::Clock::time_point();
    // 100 ms is raised to the floor that a client's heartbeat keeps (3 s).
    registry.add(client("short", 100), start);
    registry.add(client("long", 10000), start);

    EXPECT_NE(registry.touch("short", "", start + 2s), nullptr);
    EXPECT_TRUE(registry.expire(start + 4s).empty());
    // Past its limit a client is no longer recognised, even before it is dropped.
    EXPECT_EQ(registry.touch("short", "", start + 5500ms), nullptr);
    EXPECT_EQ(registry.expire(start + 5500ms), std::vector<std::string>{"short"});

    EXPECT_NE(registry.touch("long", "", start + 9s), nullptr);
    EXPECT_TRUE(registry.expire(start + 18s).empty());
    EXPECT_EQ(registry.expire(start + 19500ms), std::vector<std::string>{"long"});
    EXPECT_EQ(registry.size(), 0u);
}

// Under CURVE a client answers only the key that connected it; the limit counts the clients.
TEST(ClientRegistryTest, AClientAnswersOnlyItsOwnKeyAndFillsTheLimit)
{
    ClientRegistry registry(1);
    const auto now = ClientRegistry::Clock::time_point();
    registry.add(client("a", 10000, "alice"), now);
    EXPECT_TRUE(registry.full());
    EXPECT_EQ(registry.touch("a", "mallory", now), nullptr);
    EXPECT_EQ(registry.touch("a", "", now), nullptr);
    EXPECT_NE(registry.touch("a", "alice", now), nullptr);
    registry.remove("a");
    EXPECT_FALSE(registry.full());
}

}  // namespace
