#include "common/active_object.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace common {
namespace {

// Order and the worker's name are checked where production uses this: the connection-state
// notifier.
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
