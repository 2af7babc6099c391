#pragma once

#include "basecall_service/client_status.h"

namespace basecall_service {

// The one table from the IPC layer's exceptions (and std::system_error, zmq::error_t, any other
// std::exception) to an error code and text; the public result codes are derived from the code.
// Call only inside a catch block: it rethrows the exception being handled, and lets anything not
// derived from std::exception propagate.
ErrorState translate_current_exception();

}  // namespace basecall_service
