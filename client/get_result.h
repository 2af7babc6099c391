#pragma once

#include "client/result.h"

#include <functional>
#include <string>

namespace tamsu {

// Runs `operation` and turns the IPC layer's exceptions into result codes (timed_out,
// bad_request, bad_reply, invalid_response; failed for a failed handshake and any other
// std::exception), passing the exception's text to `on_error` first. Exceptions not derived
// from std::exception propagate.
Result get_result(std::function<Result()> operation, std::function<void(std::string)> on_error);

}  // namespace tamsu
