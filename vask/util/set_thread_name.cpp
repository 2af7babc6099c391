#include "vask/util/set_thread_name.h"

#include <pthread.h>

#include <cstring>

namespace vask::util {

void set_thread_name(const char* name)
{
    // pthread_setname_np fails outright for names over 15 characters, so cut them first.
    char buffer[16] = {};
    std::strncpy(buffer, name, sizeof(buffer) - 1);
    pthread_setname_np(pthread_self(), buffer);
}

}  // namespace vask::util
