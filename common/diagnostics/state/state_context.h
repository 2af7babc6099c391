#pragma once

#include "common/diagnostics/state/state_provider.h"
#include "common/diagnostics/state/state_record.h"

#include <functional>
#include <string>
#include <vector>

// The process-wide registry of state providers. All functions are thread-safe.
namespace common::diagnostics::state::context {

// Registers `provider` (not owned) under `name`, replacing any provider of that name.
void register_provider(StateProvider* provider, const std::string& name);

// Removes every entry of `provider`, waiting for a report it is giving to finish; afterwards it
// is never called again. Must not be called from inside a report.
void unregister_provider(StateProvider* provider);

// Has every provider report, in ascending name order, each into a section of its name, and
// formats the records. A throwing provider gets a note in its section; the others still report.
std::string
request_state(const std::function<std::string(const std::vector<StateRecord>&)>& formatter);

// Registers a provider for as long as it lives. Make it the provider's last member, so that it
// is unregistered before the provider's other members are destroyed.
class ScopedStateRegistration {
public:
    ScopedStateRegistration(StateProvider* provider, const std::string& name);
    ~ScopedStateRegistration();
    ScopedStateRegistration(const ScopedStateRegistration&) = delete;
    ScopedStateRegistration& operator=(const ScopedStateRegistration&) = delete;

private:
    StateProvider* m_provider;
};

}  // namespace common::diagnostics::state::context
