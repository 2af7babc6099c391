#include "server_test_client.h"
#include "support/server_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <iterator>
#include <sstream>

namespace {

using namespace server_test;
using tamsu_test::ServerProcess;
using T = MessageType;

// SIGHUP is handled on the server's own time, and the server serves on.
TEST(ExecutableTest, SighupForgetsEveryClientAndSigtermOrSigintEndCleanly)
{
    ServerProcess process({"--threads", "1", "--refuse-config", "toy_modbase", "127.0.0.1:0"});
    const auto endpoint = process.wait_for_endpoint();
    ASSERT_THAT(endpoint, testing::StartsWith("tcp://127.0.0.1:"));
    TestClient client(endpoint);
    EXPECT_EQ(client.simple(T::LOAD_CONFIG, "", 0, "toy_modbase").get_type(), T::REQUEST_FAILED);
    ASSERT_EQ(client.simple(T::LOAD_CONFIG, "", 0, "toy_flipflop_fast").get_type(), T::SUCCESS);
    const auto connect = [&] {
        return client.simple(T::CONNECT, "", 0, connection_string("toy_flipflop_fast"));
    };
    const auto id = reply_text(connect());
    const auto ping = [&] { return client.simple(T::HEARTBEAT_PING, id).get_type(); };
    ASSERT_EQ(ping(), T::HEARTBEAT_ECHO);
    ASSERT_TRUE(process.send_signal(SIGHUP));
    EXPECT_TRUE(eventually([&] { return ping() == T::CLIENT_NOT_RECOGNISED; }));
    EXPECT_EQ(connect().get_type(), T::CONNECTED);
    EXPECT_EQ(process.stop(SIGTERM), 0);
    ServerProcess interrupted({"tcp://127.0.0.1:*"});
    ASSERT_FALSE(interrupted.wait_for_endpoint().empty());
    EXPECT_EQ(interrupted.stop(SIGINT), 0);
}

// Help succeeds; a bad command line fails with status 2, an unwritable file with 1.
TEST(ExecutableTest, ExitStatusOfHelpBadArgumentsAndAnUnwritableFile)
{
    for (const std::string line :
         {"--help", "", "--threads", "--load-delay soon 5555", "--bogus 5555",
          "5555 --lost-reads-file", "99999", "--bind-all 127.0.0.1:5555", "--max-clients many 5555",
          "--threads +2 5555", "--curve-allow clients 5555",
          "--lost-reads-file /nonexistent-directory/lost.tsv 127.0.0.1:0"}) {
        std::istringstream words(line);
        ServerProcess process({std::istream_iterator<std::string>(words), {}});
        const int status = line == "--help"                                ? 0
                           : line.find("nonexistent") == std::string::npos ? 2
                                                                           : 1;
        EXPECT_EQ(process.stop(0), status) << line;
    }
}

}  // namespace
