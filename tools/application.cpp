#include "tools/application.h"

#include "client/tamsu_client.h"
#include "tools/basecall_command.h"
#include "tools/keygen_command.h"
#include "tools/query_command.h"
#include "tools/simulate_command.h"
#include "tools/usage_error.h"

#include <cerrno>
#include <cstring>

namespace tamsu_cli {

namespace {

std::string usage_of(const std::string& command)
{
    if (command == "basecall") {
        return BasecallCommand::usage();
    }
    if (command == "simulate") {
        return SimulateCommand::usage();
    }
    if (command == "query") {
        return QueryCommand::usage();
    }
    if (command == "keygen") {
        return KeygenCommand::usage();
    }
    return Application::usage();
}

void print_versions(std::ostream& out)
{
    out << "tamsu " << tamsu::TamsuClient::get_software_version().text << "\n"
        << "  API " << tamsu::TamsuClient::get_api_version().text << ", protocol "
        << tamsu::TamsuClient::get_protocol_version().text << ", data wrappers "
        << tamsu::TamsuClient::get_data_wrappers_version().text << "\n";
}

// A result is only delivered once standard output took it: a full disk must not pass for
// success. Returns the status to exit with.
int delivered(int status, std::ostream& out, std::ostream& err, const std::string& program)
{
    errno = 0;
    out.flush();
    // A command that failed has said why already.
    if (out || status != 0) {
        return status;
    }
    const int error = errno;
    err << program << ": cannot write standard output"
        << (error == 0 ? std::string() : std::string(": ") + std::strerror(error)) << "\n";
    return 1;
}

}  // namespace

const char* Application::usage()
{
    return R"(Usage: tamsu COMMAND [options]

Basecalls raw signal reads through a basecall server.

Commands:
  basecall INPUT... basecall the reads in INPUT and write BAM (or SAM, FASTQ) and a summary
  simulate          write synthetic raw reads to basecall
  query WHAT        ask a server for statistics, kits or its state
  keygen PREFIX     make a key pair for CURVE transport security

Run "tamsu COMMAND --help" for a command's options; "tamsu --version" for versions.
)";
}

int Application::run(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err)
{
    const auto program = arguments.empty() ? "tamsu" : "tamsu " + arguments.front();
    return delivered(run_unchecked(arguments, out, err), out, err, program);
}

int Application::run_unchecked(const std::vector<std::string>& arguments, std::ostream& out,
                               std::ostream& err)
{
    if (arguments.empty()) {
        err << usage();
        return 2;
    }
    const auto& command = arguments.front();
    if (command == "--help" || command == "-h" || command == "help") {
        out << usage();
        return 0;
    }
    if (command == "--version") {
        print_versions(out);
        return 0;
    }
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    try {
        return run_command(command, rest, out, err);
    } catch (const CLI::ParseError& error) {  // UsageError among them
        err << "tamsu " << command << ": " << error.what() << "\n\n" << usage_of(command);
        return 2;
    } catch (const std::exception& error) {
        err << "tamsu " << command << ": " << error.what() << "\n";
        return 1;
    }
}

int Application::run_command(const std::string& command, const std::vector<std::string>& arguments,
                             std::ostream& out, std::ostream& err)
{
    if (command == "basecall") {
        return BasecallCommand::run(arguments, out, err);
    }
    if (command == "simulate") {
        return SimulateCommand::run(arguments, out, err);
    }
    if (command == "query") {
        return QueryCommand::run(arguments, out, err);
    }
    if (command == "keygen") {
        return KeygenCommand::run(arguments, out, err);
    }
    err << "tamsu: unknown command '" << command << "'\n\n" << usage();
    return 2;
}

}  // namespace tamsu_cli
