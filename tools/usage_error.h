#pragma once

#include <CLI/Error.hpp>

#include <string>

namespace tamsu_cli {

// A command line the program cannot act on; the caller prints usage and exits with status 2.
// One of CLI11's parse errors, so a check the parser cannot make ends the same way as its own.
class UsageError : public CLI::ParseError {
public:
    explicit UsageError(const std::string& message)
            : CLI::ParseError("UsageError", message, CLI::ExitCodes::ValidationError)
    {
    }
};

}  // namespace tamsu_cli
