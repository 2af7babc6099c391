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
using tamsu_test::exception_text;

// Drives a fresh state machine to `target` along allowed transitions.
void move_to(ClientConnectionState& state, S target)
{
    if (target == S::error) {
        state.set_status(S::preparing_connection);
        state.set_error({ConnectionError::failed, "setup"});
        return;
    }
    for (S step = S::preparing_connection; step <= target && target != S::disconnected;
         step = static_cast<S>(static_cast<int>(step) + 1)) {
        state.set_status(step);
    }
}

bool allowed(S from, S to)
{
    if (from == S::error || from == S::disconnected) {
        return to == (from == S::error ? S::disconnected : S::preparing_connection);
    }
    const bool next_step = static_cast<int>(to) == static_cast<int>(from) + 1;
    return next_step || to == S::preparing_connection || to == S::disconnected || to == S::error;
}

TEST(ClientConnectionStateTest, EveryTransitionFollowsTheTable)
{
    for (int from_value = 0; from_value <= static_cast<int>(S::error); ++from_value) {
        for (int to_value = 0; to_value <= static_cast<int>(S::error); ++to_value) {
            const auto from = static_cast<S>(from_value);
            const auto to = static_cast<S>(to_value);
            const auto text =
                    "State transtion '" + to_string(from) + "' to '" + to_string(to) + "'";
            SCOPED_TRACE(text);
            ClientConnectionState state;
            move_to(state, from);
            const auto thrown = exception_text<std::logic_error>([&] {
                to == S::error ? state.set_error({ConnectionError::timed_out, "x"})
                               : state.set_status(to);
            });
            EXPECT_EQ(thrown, allowed(from, to) ? "<no exception>" : "Contract violation. " + text);
            EXPECT_EQ(state.get_status(), allowed(from, to) ? to : from);
        }
    }
}

// The handler leaves an error as the engine does, from the notifying thread.
TEST(ClientConnectionStateTest, HandlerHearsChangesInOrderAndMayChangeTheStateItObserves)
{
    std::mutex mutex;  // guards calls
    std::condition_variable changed;
    std::vector<std::string> calls;
    std::atomic<bool> left_error{false};
    ClientConnectionState state;
    state.register_change_handler([&](S old_status, auto snapshot) {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof(name));
        {
            std::lock_guard<std::mutex> lock(mutex);
            calls.push_back(to_string(old_status) + ">" + to_string(snapshot->get_status()) + " " +
                            to_string(snapshot->get_error_state()) + " " + name);
        }
        changed.notify_all();
        if (snapshot->get_status() == S::error) {
            left_error = state.set_status_if(S::error, S::disconnected);
        }
    });
    state.set_status(S::preparing_connection);
    EXPECT_FALSE(state.set_status_if(S::connected, S::disconnected));
    state.set_error({ConnectionError::file_load_timeout, "slow"});

    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(20), [&] { return calls.size() >= 3; });
    EXPECT_EQ(calls, (std::vector<std::string>{
                             "disconnected>preparing_connection [no_error]  conn_state_ntfy",
                             "preparing_connection>error [file_load_timeout] slow conn_state_ntfy",
                             "error>disconnected [no_error]  conn_state_ntfy"}));
    EXPECT_TRUE(left_error);
    EXPECT_EQ(state.get_error_state().code, ConnectionError::no_error);
}

TEST(ClientConnectionStateTest, ThrowingHandlerIsLoggedAndSilencesLaterNotifications)
{
    tamsu_test::LogCapture capture;
    int calls = 0;
    {
        ClientConnectionState state;
        state.register_change_handler([&](S, auto) {
            ++calls;
            throw std::runtime_error("host bug");
        });
        state.set_status(S::preparing_connection);
        state.set_status(S::disconnected);
    }
    EXPECT_EQ(calls, 1);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message,
              "Exception thrown in external client state change handler: host bug");
}

}  // namespace
}  // namespace basecall_service
