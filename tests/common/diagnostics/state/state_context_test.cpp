#include "common/diagnostics/state/state_context.h"
#include "common/diagnostics/state/state_formatter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace common::diagnostics::state {
namespace {

// Reports through a callable, so each test states what its provider writes.
class Provider : public StateProvider {
public:
    explicit Provider(std::function<void(StateLogger&)> report)
            : m_report(std::move(report))
    {
    }
    void report_state(StateLogger& logger) const override { m_report(logger); }

private:
    std::function<void(StateLogger&)> m_report;
};

// Every test starts from an empty registry: providers unregister when they go.
TEST(StateContextTest, EmptyRegistryGivesAnEmptyObject)
{
    EXPECT_EQ(context::request_state(JsonFormatter()), "\n{}");
    EXPECT_EQ(context::request_state(IndentationFormatter()), "\n");
}

TEST(StateContextTest, SectionsNestInBothFormats)
{
    Provider provider([](StateLogger& logger) {
        logger.log("count", 3ul);
        const auto section = logger.create_child_section("s");
        logger.log("flag", true);
    });
    context::ScopedStateRegistration registration(&provider, "p");

    EXPECT_EQ(context::request_state(JsonFormatter()), "\n"
                                                       "{\n"
                                                       "    \"p\": {\n"
                                                       "        \"count\": 3,\n"
                                                       "        \"s\": {\n"
                                                       "            \"flag\": true\n"
                                                       "        }\n"
                                                       "    }\n"
                                                       "}");
    EXPECT_EQ(context::request_state(IndentationFormatter()), "\n"
                                                              "p\n"
                                                              "    count: 3\n"
                                                              "    s\n"
                                                              "        flag: true\n");
}

TEST(StateContextTest, EveryValueTypeIsRendered)
{
    Provider provider([](StateLogger& logger) {
        logger.log("text", "t");
        logger.log("signed", -2l);
        logger.log("real", 0.5);
        logger.log("empty", std::string());
    });
    context::ScopedStateRegistration registration(&provider, "v");

    EXPECT_EQ(context::request_state(IndentationFormatter()),
              "\nv\n    text: t\n    signed: -2\n    real: 0.500000\n    empty: \n");
    EXPECT_EQ(context::request_state(JsonFormatter()),
              "\n{\n    \"v\": {\n        \"text\": \"t\",\n        \"signed\": -2,\n"
              "        \"real\": 0.5,\n        \"empty\": \"\"\n    }\n}");
}

TEST(StateContextTest, ProvidersReportInNameOrderAndANewOneReplacesTheOld)
{
    Provider b([](StateLogger& logger) { logger.log("id", "b"); });
    Provider first_a([](StateLogger& logger) { logger.log("id", "first"); });
    Provider second_a([](StateLogger& logger) { logger.log("id", "second"); });
    context::ScopedStateRegistration rb(&b, "b");
    context::ScopedStateRegistration ra1(&first_a, "a");
    context::ScopedStateRegistration ra2(&second_a, "a");

    EXPECT_EQ(context::request_state(IndentationFormatter()),
              "\na\n    id: second\nb\n    id: b\n");
}

TEST(StateContextTest, ThrowingProvidersKeepWhatTheyLoggedAndOthersStillReport)
{
    Provider boom([](StateLogger& logger) {
        logger.log("before", 1l);
        const auto section = logger.create_child_section("inner");
        throw std::runtime_error("boom");
    });
    Provider odd([](StateLogger&) { throw 5; });
    Provider fine([](StateLogger& logger) { logger.log("ok", true); });
    context::ScopedStateRegistration r1(&boom, "1");
    context::ScopedStateRegistration r2(&odd, "2");
    context::ScopedStateRegistration r3(&fine, "3");

    EXPECT_EQ(context::request_state(IndentationFormatter()),
              "\n1\n    before: 1\n    inner\n    exception reporting state: boom\n"
              "2\n    error reporting state: unknown\n3\n    ok: true\n");
}

TEST(StateContextTest, DestroyedProviderIsNeverCalled)
{
    {
        Provider gone([](StateLogger& logger) { logger.log("alive", true); });
        context::ScopedStateRegistration registration(&gone, "gone");
        EXPECT_NE(context::request_state(JsonFormatter()), "\n{}");
    }
    EXPECT_EQ(context::request_state(JsonFormatter()), "\n{}");
}

TEST(StateContextTest, UnregisteringWaitsForARunningReport)
{
    std::atomic<bool> reporting{false};
    std::atomic<bool> finished{false};
    auto provider = std::make_unique<Provider>([&](StateLogger& logger) {
        reporting = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        logger.log("done", true);
        finished = true;
    });
    context::register_provider(provider.get(), "slow");
    std::thread reporter([] { context::request_state(IndentationFormatter()); });
    while (!reporting) {
        std::this_thread::yield();
    }

    context::unregister_provider(provider.get());

    EXPECT_TRUE(finished);
    provider.reset();
    reporter.join();
}

TEST(StateContextTest, ConcurrentRequestsEachGetAWholeReport)
{
    Provider provider([](StateLogger& logger) {
        for (long i = 0; i < 50; ++i) {
            logger.log("v" + std::to_string(i), i);
        }
    });
    context::ScopedStateRegistration registration(&provider, "p");
    const auto expected = context::request_state(JsonFormatter());
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                mismatches += context::request_state(JsonFormatter()) != expected;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace common::diagnostics::state
