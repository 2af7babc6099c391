#pragma once

#include "common/diagnostics/state/state_logger.h"

namespace common::diagnostics::state {

// An object that can describe its internal state. report_state may be called from any thread
// while the object is registered (see state_context.h).
class StateProvider {
public:
    virtual ~StateProvider() = default;
    virtual void report_state(StateLogger& logger) const = 0;
};

}  // namespace common::diagnostics::state
