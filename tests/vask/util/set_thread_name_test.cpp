#include "vask/util/set_thread_name.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <string>
#include <thread>

namespace vask::util {
namespace {

std::string name_given_on_new_thread(const char* name)
{
    std::string result;
    std::thread([&] {
        set_thread_name(name);
        char buffer[32] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof(buffer));
        result = buffer;
    }).join();
    return result;
}

TEST(SetThreadNameTest, ShortNamesAreKeptAndLongOnesCutToFifteenCharacters)
{
    EXPECT_EQ(name_given_on_new_thread("client_worker"), "client_worker");
    EXPECT_EQ(name_given_on_new_thread("conn_state_ntfy"), "conn_state_ntfy");
    EXPECT_EQ(name_given_on_new_thread("a_name_that_is_much_too_long"), "a_name_that_is_");
}

}  // namespace
}  // namespace vask::util
