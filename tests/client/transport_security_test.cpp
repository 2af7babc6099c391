// Clients and server queries over CURVE against the reference server, and the handshake
// failures that must end them at once instead of after the reconnect window.

#include "client/server_query.h"
#include "client/tamsu_client.h"
#include "server/basecall_server.h"
#include "server/catalogue.h"
#include "server/curve_key_files.h"
#include "server/toy_caller.h"
#include "support/read_factory.h"
#include "support/temp_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

namespace tamsu {
namespace {

using namespace std::chrono_literals;
namespace key_files = reference_server::curve_key_files;

// Waits of 500 ms: a handshake failure is known after four of them.
constexpr unsigned int k_timeout_ms = 500;
// Far below the 300 s a client would keep reconnecting for; not a timing requirement.
constexpr auto k_prompt = 60s;

class TransportSecurityTest : public testing::Test {
protected:
    reference_server::ServerOptions server_options() const
    {
        reference_server::ServerOptions options;
        options.curve.secret_key = m_server_keys.secret_key;
        options.curve.allowed_client_keys = {m_client_keys.public_key};
        return options;
    }

    tamsu_test::TempDirectory m_keys;
    const key_files::KeyPair m_server_keys = key_files::generate(m_keys.file("server"));
    const key_files::KeyPair m_client_keys = key_files::generate(m_keys.file("client"));
    const key_files::KeyPair m_other_keys = key_files::generate(m_keys.file("other"));
    reference_server::BasecallServer m_server{server_options()};
    const std::string m_address = m_server.endpoint().substr(6);
    const TransportSecurity m_admitted{m_server_keys.public_key, m_client_keys.public_key,
                                       m_client_keys.secret_key};
};

TEST_F(TransportSecurityTest, AnAdmittedClientGetsItsReadsAndAnswers)
{
    TamsuClient client(m_address, "toy_flipflop_fast");
    ASSERT_EQ(client.set_transport_security(m_admitted), Result::success);
    ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();
    const auto samples = tamsu_test::make_samples(2000, 7);
    auto holder = tamsu_test::make_read(7, samples, 5);
    Read read;
    read.set_readholder(holder);
    ASSERT_EQ(client.pass_read(read, 5000), PassReadResult::success);
    ASSERT_EQ(client.finish(60), Result::success);
    std::list<Read> reads;
    client.get_completed_reads(reads);
    ASSERT_EQ(reads.size(), 1u);
    const auto expected = reference_server::ToyCaller::call(
            samples, tamsu_test::k_daq_offset, tamsu_test::k_daq_scaling,
            *reference_server::find_config("toy_flipflop_fast"), {});
    EXPECT_EQ(reads.front().get_datasets().at(interfaces::dataset::sequence).get_string(),
              expected.sequence);

    server_query::ServerStatistics stats;
    EXPECT_EQ(server_query::get_server_statistics(stats, m_address, k_timeout_ms, m_admitted),
              Result::success);
    EXPECT_EQ(stats.stat_1, 1u);
}

// Each failure ends connect with failed and says why, as does a query with the same keys.
TEST_F(TransportSecurityTest, HandshakeFailuresEndConnectAndQueriesPromptlyWithTheirCause)
{
    const struct {
        const char* name;
        TransportSecurity security;
        const char* cause;
    } cases[] = {
            {"wrong server key",
             {m_other_keys.public_key, m_client_keys.public_key, m_client_keys.secret_key},
             "its public key does not match"},
            {"client not admitted",
             {m_server_keys.public_key, m_other_keys.public_key, m_other_keys.secret_key},
             "The server refused this client's CURVE key"},
            // A mechanism mismatch, or handshakes broken off before it is reported: both name
            // CURVE.
            {"plain client", {}, "CURVE transport security"},
            {"malformed key",
             {m_server_keys.public_key.substr(1), m_client_keys.public_key,
              m_client_keys.secret_key},
             "the server's public key is not 40 characters of Z85 text"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        TamsuClient client(m_address, "toy_flipflop_fast");
        ASSERT_EQ(client.set_transport_security(each.security), Result::success);
        ASSERT_EQ(client.set_timeout(k_timeout_ms), Result::success);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.connect(), Result::failed);
        EXPECT_LT(std::chrono::steady_clock::now() - start, k_prompt);
        EXPECT_EQ(client.get_status(), ConnectionStatus::error);
        EXPECT_THAT(client.get_error_message(), testing::HasSubstr(each.cause));
        std::string state;
        const auto query_start = std::chrono::steady_clock::now();
        EXPECT_EQ(server_query::get_server_internal_state(state, m_address, k_timeout_ms,
                                                          each.security),
                  Result::failed);
        EXPECT_LT(std::chrono::steady_clock::now() - query_start, k_prompt);
    }
}

}  // namespace
}  // namespace tamsu
