#include "tools/slow5_file.h"

#include "tools/input_error.h"

#include <slow5/slow5.h>

namespace tamsu_cli {

namespace {

// The library prints its own diagnostics to standard error unless told not to; the readers
// report every failure themselves, naming the file.
bool quiet_library()
{
    slow5_set_log_level(SLOW5_LOG_OFF);
    slow5_set_exit_condition(SLOW5_EXIT_OFF);
    return true;
}

}  // namespace

void CloseSlow5File::operator()(slow5_file* file) const
{
    slow5_close(file);
}

Slow5File open_slow5_file(const std::string& path)
{
    // Set once, before any thread decodes: the settings are plain globals.
    static const bool quiet = quiet_library();
    (void)quiet;
    Slow5File file(slow5_open(path.c_str(), "r"));
    if (!file) {
        throw InputError("cannot read " + path + ": not a SLOW5 or BLOW5 file");
    }
    return file;
}

}  // namespace tamsu_cli
