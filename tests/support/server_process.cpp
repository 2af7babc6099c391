#include "support/server_process.h"

namespace tamsu_test {

// Long enough for a loaded machine; a test that waits this long has failed anyway.
constexpr std::chrono::seconds k_patience(20);

ServerProcess::ServerProcess(std::vector<std::string> arguments)
        : m_child(TAMSU_BASECALL_SERVER_PATH, arguments, {"", true, "", "/dev/null", "", {}})
{
}

std::string ServerProcess::wait_for_endpoint()
{
    return program_support::listening_endpoint(m_child, k_patience);
}

int ServerProcess::stop(int signal)
{
    if (signal != 0) {
        m_child.send_signal(signal);
    }
    return m_child.wait_for(k_patience).value_or(-1);
}

}  // namespace tamsu_test
