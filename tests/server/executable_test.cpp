#include "server_test_client.h"
#include "support/child_program.h"
#include "support/server_process.h"
#include "support/temp_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <iterator>
#include <sstream>
#include <tuple>

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

// Help succeeds; a bad command line fails with status 2 and says why (a number out of its range
// names the range), an unwritable file with 1.
TEST(ExecutableTest, ExitStatusAndMessageOfHelpBadArgumentsAndAnUnwritableFile)
{
    const std::string range = " needs a whole number from ";
    const std::tuple<std::string, int, std::string> cases[] = {
            {"--help", 0, ""},
            {"", 2, "ADDRESS is required"},
            {"--threads", 2, "--threads: 1 required N missing"},
            {"--load-delay soon 5555", 2, "--load-delay" + range + "0 to 86400000, not 'soon'"},
            {"--call-time 86400001 5555", 2, "--call-time" + range + "0 to 86400000"},
            {"--threads 0 5555", 2, "--threads" + range + "1 to 1024, not '0'"},
            {"--threads +2 5555", 2, "--threads" + range + "1 to 1024, not '+2'"},
            {"--max-clients many 5555", 2, "--max-clients" + range + "0 to 18446744073709551615"},
            {"--silent-requests 4294967296 5555", 2,
             "--silent-requests" + range + "0 to 4294967295"},
            {"--max-reads-in-flight -1 5555", 2,
             "--max-reads-in-flight" + range + "0 to 4294967295"},
            {"--bogus 5555", 2, "not expected: --bogus"},
            {"5555 --lost-reads-file", 2, "--lost-reads-file: 1 required PATH missing"},
            {"99999", 2, "expected a number from 0 to 65535"},
            {"--bind-all 127.0.0.1:5555", 2, ""},
            {"--curve-allow clients 5555", 2, "--curve-allow requires --curve-keys"},
            {"--lost-reads-file /nonexistent-directory/lost.tsv 127.0.0.1:0", 1, "lost.tsv"},
    };
    tamsu_test::TempDirectory directory;
    for (const auto& [line, status, message] : cases) {
        SCOPED_TRACE(line);
        std::istringstream words(line);
        const auto result = tamsu_test::run_program(TAMSU_BASECALL_SERVER_PATH,
                                                    {std::istream_iterator<std::string>(words), {}},
                                                    directory.path(), {}, -1, 30);
        EXPECT_EQ(result.exit_code, status);
        EXPECT_THAT(result.err, testing::HasSubstr(message));
    }
}

}  // namespace
