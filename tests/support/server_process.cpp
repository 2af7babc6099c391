#include "support/server_process.h"

namespace tamsu_test {

namespace {

// Long enough for a loaded machine; a test that waits this long has failed anyway.
constexpr std::chrono::seconds k_patience(20);

program_support::ChildSetup server_setup()
{
    program_support::ChildSetup setup;
    setup.output_to_pipe = true;
    setup.error_file = "/dev/null";
    return setup;
}

}  // namespace

ServerProcess::ServerProcess(std::vector<std::string> arguments)
        : m_child(TAMSU_BASECALL_SERVER_PATH, arguments, server_setup())
{
}

ServerProcess::~ServerProcess() = default;

std::string ServerProcess::read_line()
{
    return m_child.read_line(k_patience);
}

std::string ServerProcess::read_all()
{
    return m_child.read_all();
}

std::string ServerProcess::wait_for_endpoint()
{
    return program_support::listening_endpoint(m_child, k_patience);
}

bool ServerProcess::send_signal(int signal)
{
    return m_child.send_signal(signal);
}

int ServerProcess::stop(int signal)
{
    if (signal != 0) {
        m_child.send_signal(signal);
    }
    return m_child.wait_for(k_patience).value_or(-1);
}

}  // namespace tamsu_test
