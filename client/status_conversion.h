#pragma once

#include "basecall_service/client_status.h"
#include "basecall_service/pass_read_result.h"
#include "client/result.h"

namespace tamsu {

// The public form of an engine status (same numbers). Throws std::runtime_error for a value
// outside the enumeration.
ConnectionStatus to_connection_status(basecall_service::ClientStatus status);

// The public form of the engine's answer to a read (same numbers). Throws std::runtime_error for a
// value outside the enumeration.
PassReadResult to_pass_read_result(basecall_service::PassReadResult result);

// The public code for an engine error (no_error is success). Throws std::runtime_error for a
// value outside the enumeration.
Result to_result(basecall_service::ConnectionError error);

}  // namespace tamsu
