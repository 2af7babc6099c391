#include "basecall_service/client_connection_state.h"

#include "support/exception_text.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <sstream>
#include <vector>

namespace basecall_service {
namespace {

using S = ClientStatus;
using tamsu_test::exception_text;

const std::vector<S> k_all_statuses{
        S::disconnected,     S::preparing_connection, S::loading_config, S::loading_alignment_index,
        S::loading_bed_file, S::connecting,           S::connected,      S::error};

// Drives a fresh state machine to `target` along allowed transitions.
void move_to(ClientConnectionState& state, S target)
{
    if (target == S::disconnected) {
        return;
    }
    if (target == S::error) {
        state.set_status(S::preparing_connection);
        state.set_error({ConnectionError::failed, "setup"});
        return;
    }
    for (S step = S::preparing_connection; step <= target;
         step = static_cast<S>(static_cast<int>(step) + 1)) {
        state.set_status(step);
    }
}

bool allowed(S from, S to)
{
    if (from == S::error) {
        return to == S::disconnected;
    }
    if (from == S::disconnected) {
        return to == S::preparing_connection;
    }
    const bool next_step = static_cast<int>(to) == static_cast<int>(from) + 1;
    return next_step || to == S::preparing_connection || to == S::disconnected || to == S::error;
}

// Collects handler calls and lets a test wait for them.
class Recorder {
public:
    void operator()(S old_status, std::shared_ptr<ClientConnectionStateSnapshot> snapshot)
    {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof(name));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back({old_status, snapshot->get_status(), snapshot->get_error_state(), name});
        m_changed.notify_all();
    }

    struct Call {
        S old_status;
        S new_status;
        ErrorState error;
        std::string thread;
    };

    std::vector<Call> wait_for(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_calls.size() >= count; });
        return m_calls;
    }

private:
    std::mutex m_mutex;  // guards m_calls
    std::condition_variable m_changed;
    std::vector<Call> m_calls;
};

TEST(ClientConnectionStateTest, EveryTransitionFollowsTheTable)
{
    for (const S from : k_all_statuses) {
        for (const S to : k_all_statuses) {
            SCOPED_TRACE(transition_description(from, to));
            ClientConnectionState state;
            move_to(state, from);
            try {
                if (to == S::error) {
                    state.set_error({ConnectionError::timed_out, "x"});
                } else {
                    state.set_status(to);
                }
                EXPECT_TRUE(allowed(from, to));
                EXPECT_EQ(state.get_status(), to);
            } catch (const std::logic_error& error) {
                EXPECT_FALSE(allowed(from, to));
                EXPECT_EQ(std::string(error.what()),
                          "Contract violation. " + transition_description(from, to));
                EXPECT_EQ(state.get_status(), from);
            }
        }
    }
}

TEST(ClientConnectionStateTest, TransitionDescriptionKeepsItsSpelling)
{
    EXPECT_EQ(transition_description(S::connected, S::error),
              "State transtion 'connected' to 'error'");
}

TEST(ClientConnectionStateTest, ErrorCanOnlyBeSetThroughSetError)
{
    ClientConnectionState state;
    EXPECT_EQ(exception_text<std::logic_error>([&] { state.set_status(S::error); }),
              "Contract violation. set_status cannot be used to set an error state");
    EXPECT_EQ(exception_text<std::logic_error>(
                      [&] { state.set_status_if(S::disconnected, S::error); }),
              "Contract violation. set_status_if cannot be used to set an error state");
    EXPECT_EQ(state.get_status(), S::disconnected);
}

TEST(ClientConnectionStateTest, SetErrorRecordsTheErrorAndSetStatusClearsIt)
{
    ClientConnectionState state;
    move_to(state, S::connected);

    state.set_error({ConnectionError::timed_out, "x"});

    EXPECT_EQ(state.get_status(), S::error);
    EXPECT_EQ(state.get_error_state().code, ConnectionError::timed_out);
    EXPECT_EQ(to_string(state.get_error_state()), "[timed_out] x");
    const auto snapshot = state.create_snapshot();
    EXPECT_EQ(snapshot->get_status(), S::error);
    EXPECT_EQ(snapshot->get_error_state().message, "x");

    EXPECT_THROW(state.set_error({ConnectionError::failed, "again"}), std::logic_error);
    EXPECT_EQ(state.get_error_state().message, "again");

    state.set_status(S::disconnected);
    EXPECT_EQ(state.get_error_state().code, ConnectionError::no_error);
    EXPECT_EQ(state.get_error_state().message, "");
    EXPECT_EQ(snapshot->get_status(), S::error);
}

TEST(ClientConnectionStateTest, SetStatusIfChangesOnlyFromTheExpectedStatus)
{
    ClientConnectionState state;
    Recorder recorder;
    state.register_change_handler(std::ref(recorder));
    move_to(state, S::connected);

    EXPECT_FALSE(state.set_status_if(S::error, S::disconnected));
    EXPECT_EQ(state.get_status(), S::connected);

    state.set_error({ConnectionError::failed, "f"});
    EXPECT_TRUE(state.set_status_if(S::error, S::disconnected));
    EXPECT_EQ(state.get_status(), S::disconnected);
    EXPECT_EQ(state.get_error_state().code, ConnectionError::no_error);
    const auto calls = recorder.wait_for(8);
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls.back().old_status, S::error);
    EXPECT_EQ(calls.back().new_status, S::disconnected);
}

TEST(ClientConnectionStateTest, HandlerHearsChangesInOrderWithTheirErrorStates)
{
    ClientConnectionState state;
    Recorder recorder;
    state.register_change_handler(std::ref(recorder));

    state.set_status(S::preparing_connection);
    state.set_status(S::loading_config);
    state.set_error({ConnectionError::file_load_timeout, "slow"});

    const auto calls = recorder.wait_for(3);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].old_status, S::disconnected);
    EXPECT_EQ(calls[1].old_status, S::preparing_connection);
    EXPECT_EQ(calls[2].old_status, S::loading_config);
    EXPECT_EQ(calls[2].new_status, S::error);
    EXPECT_EQ(calls[1].error.code, ConnectionError::no_error);
    EXPECT_EQ(calls[2].error.code, ConnectionError::file_load_timeout);
    EXPECT_EQ(calls[2].error.message, "slow");
    for (const auto& call : calls) {
        EXPECT_EQ(call.thread, "conn_state_ntfy");
    }
}

TEST(ClientConnectionStateTest, HandlerMayChangeTheStateItObserves)
{
    ClientConnectionState state;
    Recorder recorder;
    state.register_change_handler([&](S old_status, auto snapshot) {
        recorder(old_status, snapshot);
        if (snapshot->get_status() == S::error) {
            state.set_status(S::disconnected);
        }
    });

    state.set_status(S::preparing_connection);
    state.set_error({ConnectionError::failed, "f"});

    const auto calls = recorder.wait_for(3);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].new_status, S::disconnected);
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
        state.set_status(S::loading_config);
        state.set_status(S::disconnected);

        EXPECT_EQ(state.get_status(), S::disconnected);
    }
    EXPECT_EQ(calls, 1);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message,
              "Exception thrown in external client state change handler: host bug");
}

TEST(ClientConnectionStateTest, HandlerCanBeRegisteredOnlyOnce)
{
    ClientConnectionState state;
    state.register_change_handler([](S, auto) {});
    EXPECT_EQ(exception_text<std::logic_error>(
                      [&] { state.register_change_handler([](S, auto) {}); }),
              "Contract violation. A connection state change handler may only be registered once.");
}

TEST(ClientConnectionStateTest, EnumerationTextsAndOutOfRangeValues)
{
    std::ostringstream stream;
    stream << S::loading_alignment_index << ' ' << ConnectionError::align_index_no_seq << ' '
           << ErrorState{ConnectionError::bad_reply, "m"};
    EXPECT_EQ(stream.str(), "loading_alignment_index align_index_no_seq [bad_reply] m");
    EXPECT_EQ(to_string(ConnectionError::failed), "failed");
    EXPECT_EQ(exception_text<std::runtime_error>([] { to_string(static_cast<S>(8)); }),
              "unrecognised ClientStatus value");
    EXPECT_EQ(
            exception_text<std::runtime_error>([] { to_string(static_cast<ConnectionError>(12)); }),
            "unrecognised ConnectionError value");
}

}  // namespace
}  // namespace basecall_service
