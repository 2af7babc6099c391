#pragma once

#include <stdexcept>
#include <string>

namespace tamsu_cli {

// Raw-read input that cannot be used: unreadable, or a line that is not a read.
class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& message)
            : std::runtime_error(message)
    {
    }
};

}  // namespace tamsu_cli
