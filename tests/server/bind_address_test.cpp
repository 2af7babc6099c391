#include "server/basecall_server.h"
#include "server/bind_address.h"
#include "server_test_client.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace server_test;
using reference_server::BasecallServer;
using reference_server::ServerOptions;

TEST(BindAddressTest, MapsEveryAddressFormToItsEndpoint)
{
    using reference_server::to_bind_endpoint;
    struct Case {
        std::string address;
        bool bind_all;
        std::string endpoint;
    };
    const std::vector<Case> cases = {
            {"5555", false, "tcp://127.0.0.1:5555"},
            {"5555", true, "tcp://*:5555"},
            {"*:5555", false, "tcp://*:5555"},
            {"0.0.0.0:5555", false, "tcp://0.0.0.0:5555"},
            {"localhost:5555", false, "tcp://127.0.0.1:5555"},
            {"tcp://localhost:5555", false, "tcp://127.0.0.1:5555"},
            {"tcp://127.0.0.1:5555", false, "tcp://127.0.0.1:5555"},
            {"127.0.0.1:0", false, "tcp://127.0.0.1:0"},
            {"tcp://127.0.0.1:*", false, "tcp://127.0.0.1:*"},
            {"ipc:///tmp/x", false, "ipc:///tmp/x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(to_bind_endpoint(c.address, c.bind_all), c.endpoint) << c.address;
    }
    for (const auto* refused : {"99999", "127.0.0.1:99999", "tcp://127.0.0.1:65536",
                                "127.0.0.1:port", "nonsense", "host:"}) {
        EXPECT_THROW(to_bind_endpoint(refused), std::invalid_argument) << refused;
    }
    // Only a bare port can be widened to every interface.
    for (const auto* refused : {"127.0.0.1:5555", "ipc:///tmp/x"}) {
        EXPECT_THROW(to_bind_endpoint(refused, true), std::invalid_argument) << refused;
    }
    for (const auto* endpoint : {"tcp://*:5555", "tcp://0.0.0.0:5555"}) {
        EXPECT_TRUE(reference_server::serves_all_interfaces(endpoint)) << endpoint;
    }
    for (const auto* endpoint : {"tcp://127.0.0.1:5555", "tcp://eth0:5555", "ipc:///tmp/x"}) {
        EXPECT_FALSE(reference_server::serves_all_interfaces(endpoint)) << endpoint;
    }
}

// A socket file as a killed server leaves it: bound once, nobody listening any more.
void leave_stale_socket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);
}

// Binding an ipc:// path would take over a live server's socket or remove a file.
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
    leave_stale_socket(directory.file("stale.sock"));
    using reference_server::check_ipc_path_unclaimed;
    EXPECT_THROW(check_ipc_path_unclaimed("ipc://" + directory.file("notes.txt")),
                 std::runtime_error);
    EXPECT_NO_THROW(check_ipc_path_unclaimed("ipc://" + directory.file("stale.sock")));
    EXPECT_NO_THROW(check_ipc_path_unclaimed("ipc://" + directory.file("absent.sock")));
    std::string content;
    std::ifstream(directory.file("notes.txt")) >> content;
    EXPECT_EQ(content, "kept");
}

}  // namespace
