#include "common/tracing/trace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <type_traits>

namespace demo_ns {
class Traced : public common::tracing::TraceDomain<Traced> {};
struct Plain {};
}  // namespace demo_ns

TAMSU_HFTRACE_DOMAIN(demo_ns, Traced)

namespace common::tracing {
namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::StrictMock;

class MockContext : public details::TraceContext {
public:
    MOCK_METHOD(void, write_entry, (const std::string&), (override));
    MOCK_METHOD(void, write_exit, (const std::string&), (override));
    MOCK_METHOD(void, write_exit, (const std::string&, std::chrono::nanoseconds), (override));
    MOCK_METHOD(void, write_message, (const std::string&, const std::string&), (override));
    MOCK_METHOD(void, write_message, (const std::string&, std::function<std::string()>),
                (override));
    MOCK_METHOD(void, write_message,
                (const std::string&, const std::string&, std::chrono::nanoseconds), (override));
};

TEST(TraceTest, DomainNamesAreDemangledClassNames)
{
    EXPECT_EQ(demo_ns::Traced::domain_name(), "demo_ns::Traced");
    EXPECT_EQ(TraceDomainHelper<demo_ns::Plain>::domain_name(), "demo_ns::Plain");
    EXPECT_EQ(TraceDomainHelper<hftrace::demo_ns::Traced>::domain_name(),
              "hftrace::demo_ns::Traced");
}

TEST(TraceTest, EveryDomainSharesTheDisabledContext)
{
    const auto ordinary = demo_ns::Traced::get_trace_context();
    const auto frequent = TraceDomainHelper<hftrace::demo_ns::Traced>::get_trace_context();

    EXPECT_EQ(ordinary, frequent);
    EXPECT_NE(dynamic_cast<details::DisabledTraceContext*>(ordinary.get()), nullptr);
    EXPECT_EQ(details::create_trace_context("anything"), ordinary);
}

TEST(TraceTest, DisabledTracesNeverRunMessageProducers)
{
    int produced = 0;
    {
        auto trace = demo_ns::Traced::create_trace("scope", true);
        trace.message([&] {
            ++produced;
            return std::string("expensive");
        });
        trace.message("plain");
        trace.timed_message("timed");
        demo_ns::Traced::write_trace("one_off", "text");
    }
    EXPECT_EQ(produced, 0);
}

TEST(TraceTest, UntimedScopeWritesEntryMessagesAndPlainExit)
{
    auto context = std::make_shared<StrictMock<MockContext>>();
    InSequence order;
    EXPECT_CALL(*context, write_entry("scope"));
    EXPECT_CALL(*context, write_message("scope", std::string("text")));
    EXPECT_CALL(*context, write_message("scope", ::testing::A<std::function<std::string()>>()));
    EXPECT_CALL(*context, write_message("scope", std::string("timed")));
    EXPECT_CALL(*context, write_exit("scope"));

    Trace trace(context, "scope");
    trace.message("text");
    trace.message([] { return std::string("produced"); });
    trace.timed_message("timed");
}

TEST(TraceTest, TimedScopeReportsElapsedTime)
{
    auto context = std::make_shared<StrictMock<MockContext>>();
    InSequence order;
    EXPECT_CALL(*context, write_entry("scope"));
    EXPECT_CALL(*context, write_message("scope", std::string("halfway"), _));
    EXPECT_CALL(*context, write_exit("scope", ::testing::Ge(std::chrono::milliseconds(5))));

    Trace trace(context, "scope", true);
    trace.timed_message("halfway");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST(TraceTest, DomainBaseHasAVirtualDestructor)
{
    EXPECT_TRUE(std::has_virtual_destructor_v<TraceDomain<demo_ns::Traced>>);
}

}  // namespace
}  // namespace common::tracing
