#include "server/basecall_server.h"
#include "server/bind_address.h"
#include "server_test_client.h"
#include "support/server_process.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace server_test;
using namespace reference_server;

TEST(BindAddressTest, MapsEveryAddressFormToItsEndpoint)
{
    for (const auto& [address, endpoint] : std::vector<std::pair<std::string, std::string>>{
                 {"5555", "tcp://127.0.0.1:5555"},
                 {"*:5555", "tcp://*:5555"},
                 {"0.0.0.0:5555", "tcp://0.0.0.0:5555"},
                 {"localhost:5555", "tcp://127.0.0.1:5555"},
                 {"tcp://localhost:5555", "tcp://127.0.0.1:5555"},
                 {"127.0.0.1:0", "tcp://127.0.0.1:0"},
                 {"tcp://127.0.0.1:*", "tcp://127.0.0.1:*"},
                 {"ipc:///tmp/x", "ipc:///tmp/x"}}) {
        EXPECT_EQ(to_bind_endpoint(address), endpoint) << address;
    }
    // Only a bare port can be widened to every interface.
    EXPECT_EQ(to_bind_endpoint("5555", true), "tcp://*:5555");
    for (const auto* refused : {"99999", "127.0.0.1:99999", "tcp://127.0.0.1:65536",
                                "127.0.0.1:port", "nonsense", "host:"}) {
        EXPECT_THROW(to_bind_endpoint(refused), std::invalid_argument) << refused;
    }
    for (const auto* refused : {"127.0.0.1:5555", "ipc:///tmp/x"}) {
        EXPECT_THROW(to_bind_endpoint(refused, true), std::invalid_argument) << refused;
    }
    EXPECT_TRUE(serves_all_interfaces("tcp://*:5555") && serves_all_interfaces("tcp://0.0.0.0:1"));
    for (const auto* endpoint : {"tcp://127.0.0.1:5555", "tcp://eth0:5555", "ipc:///tmp/x"}) {
        EXPECT_FALSE(serves_all_interfaces(endpoint)) << endpoint;
    }
}

// Binding an ipc:// path would take over a live server's socket or remove a file; the socket
// file of a killed server is reused.
TEST(BindAddressTest, IpcPathOfALiveServerOrAFileIsRefusedAndAStaleSocketReused)
{
    tamsu_test::TempDirectory directory;
    ServerOptions options;
    options.address = "ipc://" + directory.file("live.sock");
    BasecallServer live(options);
    EXPECT_THROW(BasecallServer{options}, std::runtime_error);
    EXPECT_EQ(TestClient(live.endpoint()).simple(MessageType::GET_STATE).get_type(),
              MessageType::RETURN_STATE);
    std::ofstream(directory.file("notes.txt")) << "kept";
    EXPECT_THROW(check_ipc_path_unclaimed("ipc://" + directory.file("notes.txt")),
                 std::runtime_error);
    std::string content;
    std::ifstream(directory.file("notes.txt")) >> content;
    EXPECT_EQ(content, "kept");
    tamsu_test::ServerProcess killed({"ipc://" + directory.file("stale.sock")});
    ASSERT_FALSE(killed.wait_for_endpoint().empty());
    killed.stop(SIGKILL);
    ASSERT_TRUE(std::filesystem::exists(directory.file("stale.sock")));
    EXPECT_NO_THROW(check_ipc_path_unclaimed("ipc://" + directory.file("stale.sock")));
    EXPECT_NO_THROW(check_ipc_path_unclaimed("ipc://" + directory.file("absent.sock")));
}

}  // namespace
