#include "common/diagnostics/state/state_context.h"
#include "common/diagnostics/state/state_formatter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

namespace common::diagnostics::state {
namespace {

// Reports through a callable, so each test states what its provider writes.
struct Provider : StateProvider {
    explicit Provider(std::function<void(StateLogger&)> r)
            : report(std::move(r))
    {
    }
    void report_state(StateLogger& logger) const override { report(logger); }
    std::function<void(StateLogger&)> report;
};

// Every test starts and ends with an empty registry: providers unregister when they go.
TEST(StateContextTest, ProvidersReportInNameOrderAndFailuresStayInTheirOwnSection)
{
    {
        Provider boom([](StateLogger& logger) {
            logger.log("before", 1l);
            const auto section = logger.create_child_section("inner");
            throw std::runtime_error("boom");
        });
        Provider odd([](StateLogger&) { throw 5; });
        Provider replaced([](StateLogger& logger) { logger.log("id", "first"); });
        Provider fine([](StateLogger& logger) { logger.log("ok", "yes"); });
        context::ScopedStateRegistration r3_old(&replaced, "3");
        context::ScopedStateRegistration r1(&boom, "1");
        context::ScopedStateRegistration r2(&odd, "2");
        context::ScopedStateRegistration r3_new(&fine, "3");  // a new registration replaces the old

        EXPECT_EQ(context::request_state(IndentationFormatter()),
                  "\n1\n    before: 1\n    inner\n    exception reporting state: boom\n"
                  "2\n    error reporting state: unknown\n3\n    ok: yes\n");
    }
    EXPECT_EQ(context::request_state(IndentationFormatter()), "\n");  // all unregistered
}

TEST(StateContextTest, UnregisteringWaitsForARunningReport)
{
    std::atomic<bool> reporting{false}, finished{false};
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

}  // namespace
}  // namespace common::diagnostics::state
