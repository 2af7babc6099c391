#include "tools/interrupt_flag.h"

#include <signal.h>

#include <atomic>

namespace tamsu_cli {

namespace {

std::atomic<bool> g_raised{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set in a signal handler");

void on_signal(int)
{
    g_raised = true;
}

}  // namespace

void InterruptFlag::install()
{
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    // One clean stop; a second signal falls back to the default action.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptFlag::raised()
{
    return g_raised;
}

}  // namespace tamsu_cli
