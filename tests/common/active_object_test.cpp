#include "common/active_object.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace common {
namespace {

std::string current_thread_name()
{
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    return name;
}

TEST(ActiveObjectTest, TasksRunInPostingOrderOnTheNamedThreadBeforeJoinReturns)
{
    std::vector<std::string> seen;
    ActiveObject worker("a_twenty_char_name__", [](const std::exception&) {});
    for (const char* task : {"a", "b", "c"}) {
        worker.send([&seen, task] { seen.push_back(task + (":" + current_thread_name())); });
    }
    worker.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"a:a_twenty_char_n", "b:a_twenty_char_n",
                                              "c:a_twenty_char_n"}));
    worker.join();  // a second join returns at once
}

TEST(ActiveObjectTest, FirstFailureIsReportedOnceAndStopsLaterTasks)
{
    const std::pair<std::function<void()>, std::string> failures[] = {
            {[] { throw std::runtime_error("x"); }, "x"},
            {[] { throw 42; }, "Unhandled error thrown in thread: worker"}};
    for (const auto& [task, text] : failures) {
        std::vector<std::string> errors;
        bool later_ran = false;
        {
            ActiveObject worker("worker", [&](const std::exception& error) {
                errors.push_back(error.what());
                throw 1;  // a throwing handler must not end the process
            });
            worker.send(task);
            worker.send([&] { later_ran = true; });
        }
        EXPECT_EQ(errors, std::vector<std::string>{text});
        EXPECT_FALSE(later_ran);
    }
}

}  // namespace
}  // namespace common
