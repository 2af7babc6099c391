#include "basecall_service/client_connection_state.h"

#include "support/exception_text.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace basecall_service {
namespace {

using S = ClientStatus;

// Drives a fresh state machine to `target` along allowed transitions.
void move_to(ClientConnectionState& state, S target)
{
    for (int step = 1; step <= static_cast<int>(target); ++step) {
        step == static_cast<int>(S::error) ? state.set_error({ConnectionError::failed, "setup"})
                                           : state.set_status(static_cast<S>(step));
    }
}

TEST(ClientConnectionStateTest, EveryTransitionFollowsTheTable)
{
    // One row per old status, one column per new status, both from disconnected to error.
    const char* const allowed[] = {"01000000", "11100001", "11010001", "11001001",
                                   "11000101", "11000011", "11000001", "10000000"};
    for (int from_value = 0; from_value <= static_cast<int>(S::error); ++from_value) {
        for (int to_value = 0; to_value <= static_cast<int>(S::error); ++to_value) {
            const auto from = static_cast<S>(from_value), to = static_cast<S>(to_value);
            const bool ok = allowed[from_value][to_value] == '1';
            const auto text =
                    "State transtion '" + to_string(from) + "' to '" + to_string(to) + "'";
            SCOPED_TRACE(text);
            ClientConnectionState state;
            move_to(state, from);
            const auto thrown = tamsu_test::exception_text<std::logic_error>([&] {
                to == S::error ? state.set_error({ConnectionError::timed_out, "x"})
                               : state.set_status(to);
            });
            EXPECT_EQ(thrown, ok ? "<no exception>" : "Contract violation. " + text);
            EXPECT_EQ(state.get_status(), ok ? to : from);
        }
    }
}

// The handler leaves an error as the engine does, from the notifying thread, then throws as a
// faulty host's would: that is logged and the handler hears nothing more.
TEST(ClientConnectionStateTest, HandlerHearsChangesInOrderAndMayChangeTheStateItObserves)
{
    tamsu_test::LogCapture capture;
    std::mutex mutex;  // guards calls
    std::condition_variable changed;
    std::vector<std::string> calls;
    std::atomic<bool> left_error{false};
    {
        ClientConnectionState state;
        state.register_change_handler([&](S old_status, auto snapshot) {
            char name[32] = {};
            pthread_getname_np(pthread_self(), name, sizeof(name));
            {
                std::lock_guard<std::mutex> lock(mutex);
                calls.push_back(to_string(old_status) + ">" + to_string(snapshot->get_status()) +
                                " " + to_string(snapshot->get_error_state()) + " " + name);
            }
            changed.notify_all();
            if (snapshot->get_status() == S::error) {
                left_error = state.set_status_if(S::error, S::disconnected);
            }
            if (old_status == S::error) {
                throw std::runtime_error("host bug");
            }
        });
        state.set_status(S::preparing_connection);
        EXPECT_FALSE(state.set_status_if(S::connected, S::disconnected));
        state.set_error({ConnectionError::file_load_timeout, "slow"});

        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return calls.size() >= 3; });
        lock.unlock();
        EXPECT_EQ(state.get_error_state().code, ConnectionError::no_error);
        state.set_status(S::preparing_connection);
    }  // joins the notifier
    EXPECT_EQ(calls, (std::vector<std::string>{
                             "disconnected>preparing_connection [no_error]  conn_state_ntfy",
                             "preparing_connection>error [file_load_timeout] slow conn_state_ntfy",
                             "error>disconnected [no_error]  conn_state_ntfy"}));
    EXPECT_TRUE(left_error);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message,
              "Exception thrown in external client state change handler: host bug");
}

}  // namespace
}  // namespace basecall_service
