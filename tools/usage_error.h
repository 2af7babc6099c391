#pragma once

#include <stdexcept>
#include <string>

namespace tamsu_cli {

// A command line the program cannot act on; the caller prints usage and exits with status 2.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message)
            : std::runtime_error(message)
    {
    }
};

}  // namespace tamsu_cli
