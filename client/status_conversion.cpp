#include "client/status_conversion.h"

#include <stdexcept>

namespace tamsu {

using basecall_service::ConnectionError;

Result to_result(ConnectionError error)
{
    switch (error) {
    case ConnectionError::no_error:
        return Result::success;
    case ConnectionError::bad_request:
        return Result::bad_request;
    case ConnectionError::bad_reply:
        return Result::bad_reply;
    case ConnectionError::timed_out:
        return Result::timed_out;
    case ConnectionError::invalid_response:
        return Result::invalid_response;
    case ConnectionError::basecall_config_unavailable:
        return Result::basecall_config_unavailable;
    case ConnectionError::barcode_kit_unavailable:
        return Result::barcode_kit_unavailable;
    case ConnectionError::align_index_unavailable:
        return Result::align_index_unavailable;
    case ConnectionError::bed_file_unavailable:
        return Result::bed_file_unavailable;
    case ConnectionError::align_index_no_seq:
        return Result::align_index_no_seq;
    case ConnectionError::file_load_timeout:
        return Result::file_load_timeout;
    case ConnectionError::failed:
        return Result::failed;
    }
    throw std::runtime_error("unrecognised ConnectionError value");
}

ConnectionStatus to_connection_status(basecall_service::ClientStatus status)
{
    const auto value = static_cast<std::int32_t>(status);
    if (value < 0 || value > static_cast<std::int32_t>(ConnectionStatus::error)) {
        throw std::runtime_error("unrecognised basecall_service::ClientStatus value");
    }
    return static_cast<ConnectionStatus>(value);
}

}  // namespace tamsu
