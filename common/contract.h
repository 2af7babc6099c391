#pragma once

#include <string>

namespace common::contract {

// Checks a precondition. When `condition` is false, logs "Contract violation." (followed by a
// blank and `message` when it is not empty) through the error logger and throws
// std::logic_error with that text. Never returns after a failure.
void expects(bool condition, std::string message);

// Same check for a literal message: the text is only turned into a string when the check fails,
// so hot paths pay nothing for it.
inline void expects(bool condition, const char* message)
{
    if (!condition) {
        expects(false, std::string(message));
    }
}

}  // namespace common::contract
