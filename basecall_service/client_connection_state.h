#pragma once

#include "basecall_service/client_status.h"
#include "common/active_object.h"
#include "common/tracing/trace.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace basecall_service {

// An immutable copy of the status and error state at one moment.
class ClientConnectionStateSnapshot {
public:
    virtual ~ClientConnectionStateSnapshot() = default;
    virtual ClientStatus get_status() const = 0;
    virtual const ErrorState& get_error_state() const = 0;
};

// "State transtion 'from' to 'to'"
std::string transition_description(ClientStatus from, ClientStatus to);

// One engine's connection status and last error. Every change follows a fixed transition table
// (a change it forbids throws std::logic_error); a registered handler hears every change, in
// order, on the notifier thread "conn_state_ntfy", never under this object's lock. Thread-safe.
class ClientConnectionState : public common::tracing::TraceDomain<ClientConnectionState> {
public:
    using ChangeHandler = std::function<void(
            ClientStatus old_status, std::shared_ptr<ClientConnectionStateSnapshot> snapshot)>;

    ClientConnectionState();
    // Runs the notifications already queued, then stops the notifier thread.
    ~ClientConnectionState() override = default;

    ClientStatus get_status() const;
    ErrorState get_error_state() const;
    std::shared_ptr<ClientConnectionStateSnapshot> create_snapshot() const;

    // Clears the error state and changes the status; `status` must not be error.
    void set_status(ClientStatus status);
    // Like set_status, but only when the status is `expected`; returns whether it changed.
    bool set_status_if(ClientStatus expected, ClientStatus status);
    // Records `error` and changes the status to error.
    void set_error(const ErrorState& error);

    // At most once; a throwing handler is logged and silences later notifications.
    void register_change_handler(ChangeHandler handler);

private:
    void update_status(ClientStatus new_status);  // requires m_mutex

    mutable std::mutex m_mutex;  // guards m_status, m_error_state and m_handler
    ClientStatus m_status = ClientStatus::disconnected;
    ErrorState m_error_state;
    ChangeHandler m_handler;
    common::ActiveObject m_notifier;
};

}  // namespace basecall_service
