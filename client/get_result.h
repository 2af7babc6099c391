#pragma once

#include "client/result.h"

#include <functional>
#include <string>

namespace tamsu {

// Runs `operation` and turns its exceptions into result codes through the engine's table
// (basecall_service::translate_current_exception, then to_result), passing the engine's text for
// the failure to `on_error` first. Exceptions not derived from std::exception propagate.
Result get_result(std::function<Result()> operation, std::function<void(std::string)> on_error);

}  // namespace tamsu
