#include "common/contract.h"

#include "common/logger.h"

#include <stdexcept>

namespace common::contract {

void expects(bool condition, std::string message)
{
    if (condition) {
        return;
    }
    std::string text = "Contract violation.";
    if (!message.empty()) {
        text += " " + message;
    }
    TAMSU_LOG(error, text);
    throw std::logic_error(text);
}

}  // namespace common::contract
