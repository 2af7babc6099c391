#include "server_test_client.h"
#include "support/server_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <string>

namespace {

using namespace server_test;

using tamsu_test::ServerProcess;

TEST(ExecutableTest, ServesUntilSigtermAndExitsCleanly)
{
    ServerProcess process(
            {"--threads", "1", "--refuse-config", "toy_modbase", "tcp://127.0.0.1:*"});
    const auto line = process.read_line();
    ASSERT_THAT(line, testing::StartsWith("Listening on tcp://127.0.0.1:"));
    const auto endpoint = line.substr(std::string("Listening on ").size(),
                                      line.size() - std::string("Listening on ").size() - 1);
    TestClient client(endpoint);
    EXPECT_EQ(client.simple(MessageType::LOAD_CONFIG, "", 0, "toy_modbase").get_type(),
              MessageType::REQUEST_FAILED);
    EXPECT_EQ(client.simple(MessageType::GET_STATE).get_type(), MessageType::RETURN_STATE);
    EXPECT_EQ(process.stop(SIGTERM), 0);
}

TEST(ExecutableTest, SigintAlsoStopsIt)
{
    ServerProcess process({"127.0.0.1:0"});
    ASSERT_THAT(process.read_line(), testing::StartsWith("Listening on tcp://127.0.0.1:"));
    EXPECT_EQ(process.stop(SIGINT), 0);
}

TEST(ExecutableTest, HelpMentionsEveryFlag)
{
    ServerProcess process({"--help"});
    const auto text = process.read_all();
    EXPECT_EQ(process.stop(0), 0);
    for (const auto* flag : {"--help", "--threads", "--load-delay", "--call-delay",
                             "--max-reads-in-flight", "--lose-reads", "--refuse-config", "--silent",
                             "--silent-requests", "--zero-work", "ADDRESS"}) {
        EXPECT_THAT(text, testing::HasSubstr(flag));
    }
}

TEST(ExecutableTest, BadArgumentsFailWithUsage)
{
    for (const auto& arguments : std::vector<std::vector<std::string>>{
                 {}, {"--threads"}, {"--load-delay", "soon", "5555"}, {"--bogus", "5555"}}) {
        ServerProcess process(arguments);
        EXPECT_EQ(process.stop(0), 2);
    }
}

}  // namespace
