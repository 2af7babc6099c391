#include "client/status_conversion.h"

#include <stdexcept>

namespace tamsu {

ConnectionStatus to_connection_status(basecall_service::ClientStatus status)
{
    const auto value = static_cast<std::int32_t>(status);
    if (value < 0 || value > static_cast<std::int32_t>(ConnectionStatus::error)) {
        throw std::runtime_error("unrecognised basecall_service::ClientStatus value");
    }
    return static_cast<ConnectionStatus>(value);
}

}  // namespace tamsu
