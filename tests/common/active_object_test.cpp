#include "common/active_object.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace common {
namespace {

std::string current_thread_name()
{
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    return name;
}

TEST(ActiveObjectTest, TasksRunInPostingOrderOnTheNamedThread)
{
    std::vector<std::string> seen;
    {
        ActiveObject worker("a_twenty_char_name__", [](const std::exception&) {});
        for (const char* task : {"a", "b", "c"}) {
            worker.send([&seen, task] { seen.push_back(task + (":" + current_thread_name())); });
        }
        worker.join();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a:a_twenty_char_n", "b:a_twenty_char_n",
                                              "c:a_twenty_char_n"}));
}

TEST(ActiveObjectTest, DefaultThreadNameIsActiveObject)
{
    std::string name;
    ActiveObject worker;
    worker.send([&] { name = current_thread_name(); });
    worker.join();
    EXPECT_EQ(name, "active_object");
}

TEST(ActiveObjectTest, JoinWaitsForEarlierTasksAndASecondJoinReturnsAtOnce)
{
    std::atomic<int> ran{0};
    ActiveObject worker("w", [](const std::exception&) {});
    for (int i = 0; i < 100; ++i) {
        worker.send([&] { ++ran; });
    }

    worker.join();
    EXPECT_EQ(ran.load(), 100);
    worker.join();
    worker.send([&] { ++ran; });  // accepted, never run
}

TEST(ActiveObjectTest, FailingTaskIsReportedOnceAndStopsLaterTasks)
{
    std::vector<std::string> errors;
    bool later_ran = false;
    {
        ActiveObject worker("worker",
                            [&](const std::exception& error) { errors.push_back(error.what()); });
        worker.send([] { throw std::runtime_error("x"); });
        worker.send([&] { later_ran = true; });
    }
    EXPECT_EQ(errors, std::vector<std::string>{"x"});
    EXPECT_FALSE(later_ran);
}

TEST(ActiveObjectTest, NonStandardExceptionsAndEmptyTasksAreReportedAsStandardOnes)
{
    std::string thrown_int;
    {
        ActiveObject worker("worker",
                            [&](const std::exception& error) { thrown_int = error.what(); });
        worker.send([] { throw 42; });
    }
    EXPECT_EQ(thrown_int, "Unhandled error thrown in thread: worker");

    bool bad_call = false;
    {
        ActiveObject worker("worker", [&](const std::exception& error) {
            bad_call = dynamic_cast<const std::bad_function_call*>(&error) != nullptr;
        });
        worker.send(std::function<void()>());
    }
    EXPECT_TRUE(bad_call);
}

TEST(ActiveObjectTest, DefaultHandlerLogsTheFailure)
{
    tamsu_test::LogCapture capture;
    {
        ActiveObject worker;
        worker.send([] { throw std::runtime_error("task failed"); });
    }
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].channel, "error");
    EXPECT_EQ(records[0].message, "task failed");
}

TEST(ActiveObjectTest, ThrowingErrorHandlerDoesNotEndTheProcess)
{
    ActiveObject worker("w", [](const std::exception&) { throw 1; });
    worker.send([] { throw std::runtime_error("x"); });
    worker.join();
}

TEST(ActiveObjectTest, TasksFromManyThreadsAllRunOneAtATime)
{
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> ran{0};
    ActiveObject worker("w", [](const std::exception&) {});
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                worker.send([&] {
                    overlaps += running.fetch_add(1) != 0;
                    ++ran;
                    --running;
                });
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    worker.join();
    EXPECT_EQ(ran.load(), 800);
    EXPECT_EQ(overlaps.load(), 0);
}

}  // namespace
}  // namespace common
