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
    struct Case {
        std::string address;
        bool bind_all;
        std::string endpoint;  // empty: refused
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
            {"99999", false, ""},
            {"127.0.0.1:99999", false, ""},
            {"tcp://127.0.0.1:65536", false, ""},
            {"127.0.0.1:port", false, ""},
            {"nonsense", false, ""},
            {"host:", false, ""},
            {"127.0.0.1:5555", true, ""},
            {"ipc:///tmp/x", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address + (c.bind_all ? " with bind_all" : ""));
        if (c.endpoint.empty()) {
            EXPECT_THROW(reference_server::to_bind_endpoint(c.address, c.bind_all),
                         std::invalid_argument);
        } else {
            EXPECT_EQ(reference_server::to_bind_endpoint(c.address, c.bind_all), c.endpoint);
        }
    }
    for (const auto* endpoint : {"tcp://*:5555", "tcp://0.0.0.0:5555"}) {
        EXPECT_TRUE(reference_server::serves_all_interfaces(endpoint)) << endpoint;
    }
    for (const auto* endpoint : {"tcp://127.0.0.1:5555", "tcp://eth0:5555", "ipc:///tmp/x"}) {
        EXPECT_FALSE(reference_server::serves_all_interfaces(endpoint)) << endpoint;
    }
}

TEST(BindAddressTest, ServesOnLocalhostAndIpcEndpoints)
{
    tamsu_test::TempDirectory directory;
    for (const auto& address : {"ipc://" + directory.file("server.sock"),
                                std::string("localhost:0"), std::string("tcp://localhost:*")}) {
        SCOPED_TRACE(address);
        ServerOptions options;
        options.address = address;
        BasecallServer server(options);
        TestClient client(server.endpoint());
        EXPECT_EQ(client.simple(MessageType::GET_STATISTICS).get_type(),
                  MessageType::RETURN_STATISTICS);
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

TEST(BindAddressTest, IpcPathOfALiveServerOrAFileIsRefusedAndAStaleSocketReused)
{
    tamsu_test::TempDirectory directory;
    ServerOptions options;
    options.address = "ipc://" + directory.file("live.sock");
    BasecallServer live(options);
    EXPECT_THROW(BasecallServer{options}, std::runtime_error);
    TestClient client(live.endpoint());
    EXPECT_EQ(client.simple(MessageType::GET_STATISTICS).get_type(),
              MessageType::RETURN_STATISTICS);

    const auto file = directory.file("notes.txt");
    std::ofstream(file) << "kept";
    options.address = "ipc://" + file;
    EXPECT_THROW(BasecallServer{options}, std::runtime_error);
    std::string content;
    std::ifstream(file) >> content;
    EXPECT_EQ(content, "kept");

    const auto stale = directory.file("stale.sock");
    leave_stale_socket(stale);
    options.address = "ipc://" + stale;
    BasecallServer reused(options);
    TestClient second(reused.endpoint());
    EXPECT_EQ(second.simple(MessageType::GET_STATISTICS).get_type(),
              MessageType::RETURN_STATISTICS);
}

}  // namespace
