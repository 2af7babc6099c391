#include "server_test_client.h"
#include "support/server_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace server_test;

using tamsu_test::ServerProcess;

TEST(ExecutableTest, ServesUntilSigtermOrSigintAndExitsCleanly)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        ServerProcess process({"--threads", "1", "--refuse-config", "toy_modbase", "127.0.0.1:0"});
        const auto endpoint = process.wait_for_endpoint();
        ASSERT_THAT(endpoint, testing::StartsWith("tcp://127.0.0.1:"));
        TestClient client(endpoint);
        EXPECT_EQ(client.simple(MessageType::LOAD_CONFIG, "", 0, "toy_modbase").get_type(),
                  MessageType::REQUEST_FAILED);
        EXPECT_EQ(process.stop(signal), 0) << signal;
    }
}

TEST(ExecutableTest, SighupForgetsEveryClientAndServesOn)
{
    ServerProcess process({"tcp://127.0.0.1:*"});
    TestClient client(process.wait_for_endpoint());
    ASSERT_EQ(client.simple(MessageType::LOAD_CONFIG, "", 0, "toy_flipflop_fast").get_type(),
              MessageType::SUCCESS);
    const auto connect = [&] {
        return client.simple(MessageType::CONNECT, "", 0, connection_string("toy_flipflop_fast"));
    };
    const auto id = reply_text(connect());
    auto type = client.simple(MessageType::HEARTBEAT_PING, id).get_type();
    ASSERT_EQ(type, MessageType::HEARTBEAT_ECHO);
    ASSERT_TRUE(process.send_signal(SIGHUP));
    // The signal is handled on the server's own time.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (type == MessageType::HEARTBEAT_ECHO && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        type = client.simple(MessageType::HEARTBEAT_PING, id).get_type();
    }
    EXPECT_EQ(type, MessageType::CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(connect().get_type(), MessageType::CONNECTED);
    EXPECT_EQ(process.stop(SIGTERM), 0);
}

TEST(ExecutableTest, HelpMentionsEveryFlag)
{
    ServerProcess process({"--help"});
    const auto text = process.read_all();
    EXPECT_EQ(process.stop(0), 0);
    for (const auto* flag :
         {"--help", "--bind-all", "--max-clients", "--threads", "--load-delay", "--call-delay",
          "--call-time", "--max-reads-in-flight", "--lose-reads", "--refuse-config", "--silent",
          "--silent-requests", "--zero-work", "--lost-reads-file", "SIGHUP", "ADDRESS"}) {
        EXPECT_THAT(text, testing::HasSubstr(flag));
    }
}

TEST(ExecutableTest, BadArgumentsFailWithUsageAndAnUnwritableFileWithStatusOne)
{
    for (const std::string line :
         {"", "--threads", "--load-delay soon 5555", "--bogus 5555", "5555 --lost-reads-file",
          "99999", "--bind-all 127.0.0.1:5555", "--max-clients many 5555", "--threads +2 5555",
          "--curve-allow clients 5555",
          "--lost-reads-file /nonexistent-directory/lost.tsv 127.0.0.1:0"}) {
        std::vector<std::string> arguments;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            arguments.push_back(word);
        }
        ServerProcess process(arguments);
        EXPECT_EQ(process.stop(0), line.find("nonexistent") == std::string::npos ? 2 : 1) << line;
    }
}

}  // namespace
