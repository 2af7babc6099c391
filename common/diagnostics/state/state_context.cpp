#include "common/diagnostics/state/state_context.h"

#include "common/diagnostics/state/concrete_state_logger.h"
#include "common/tracing/trace.h"

#include <map>
#include <memory>
#include <mutex>

namespace common::diagnostics::state::context {

// Tag of the registry's tracing domain.
struct StateLogging {};

namespace {

using Domain = common::tracing::TraceDomainHelper<StateLogging>;

// A registered provider. Reports run under the entry's mutex, so unregistering waits for a
// running report and no report starts after it.
struct Entry {
    explicit Entry(StateProvider* p)
            : provider(p)
    {
    }
    std::mutex mutex;  // guards provider and serialises its reports
    StateProvider* provider;
};

class Registry {
public:
    void add(StateProvider* provider, const std::string& name)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries[name] = std::make_shared<Entry>(provider);
    }

    void remove(StateProvider* provider)
    {
        std::vector<std::shared_ptr<Entry>> removed;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto it = m_entries.begin(); it != m_entries.end();) {
                if (it->second->provider == provider) {
                    removed.push_back(it->second);
                    it = m_entries.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (const auto& entry : removed) {
            std::lock_guard<std::mutex> lock(entry->mutex);
            entry->provider = nullptr;
        }
    }

    std::map<std::string, std::shared_ptr<Entry>> copy() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }

private:
    mutable std::mutex m_mutex;  // guards m_entries
    std::map<std::string, std::shared_ptr<Entry>> m_entries;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

void report(Entry& entry, StateLogger& logger)
{
    std::lock_guard<std::mutex> lock(entry.mutex);
    if (entry.provider == nullptr) {
        return;
    }
    try {
        entry.provider->report_state(logger);
    } catch (const std::exception& error) {
        logger.log("exception reporting state", std::string(error.what()));
    } catch (...) {
        logger.log("error reporting state", "unknown");
    }
}

}  // namespace

void register_provider(StateProvider* provider, const std::string& name)
{
    const auto trace = Domain::create_trace("register_provider");
    registry().add(provider, name);
}

void unregister_provider(StateProvider* provider)
{
    registry().remove(provider);
}

std::string
request_state(const std::function<std::string(const std::vector<StateRecord>&)>& formatter)
{
    const auto trace = Domain::create_trace("get_state");
    std::vector<StateRecord> records;
    detail::ConcreteStateLogger logger(records);
    for (const auto& [name, entry] : registry().copy()) {
        const auto section = logger.create_child_section(name);
        report(*entry, logger);
    }
    return formatter(records);
}

ScopedStateRegistration::ScopedStateRegistration(StateProvider* provider, const std::string& name)
        : m_provider(provider)
{
    register_provider(provider, name);
}

ScopedStateRegistration::~ScopedStateRegistration()
{
    unregister_provider(m_provider);
}

}  // namespace common::diagnostics::state::context
