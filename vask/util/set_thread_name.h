#pragma once

namespace vask::util {

// Names the calling thread; the kernel keeps at most the first 15 characters.
void set_thread_name(const char* name);

}  // namespace vask::util
