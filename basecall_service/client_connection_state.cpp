#include "basecall_service/client_connection_state.h"

#include "common/contract.h"
#include "common/logger.h"

#include <map>
#include <set>

namespace basecall_service {

namespace {

using S = ClientStatus;

const std::map<ClientStatus, std::set<ClientStatus>>& state_machine()
{
    static const std::map<ClientStatus, std::set<ClientStatus>> table{
            {S::disconnected, {S::preparing_connection}},
            {S::preparing_connection,
             {S::loading_config, S::preparing_connection, S::disconnected, S::error}},
            {S::loading_config,
             {S::loading_alignment_index, S::preparing_connection, S::disconnected, S::error}},
            {S::loading_alignment_index,
             {S::loading_bed_file, S::preparing_connection, S::disconnected, S::error}},
            {S::loading_bed_file,
             {S::connecting, S::preparing_connection, S::disconnected, S::error}},
            {S::connecting, {S::connected, S::preparing_connection, S::disconnected, S::error}},
            {S::connected, {S::preparing_connection, S::disconnected, S::error}},
            {S::error, {S::disconnected}},
    };
    return table;
}

class ClientConnectionStateSnapshotImpl final : public ClientConnectionStateSnapshot {
public:
    ClientConnectionStateSnapshotImpl(ClientStatus status, ErrorState error_state)
            : m_status(status)
            , m_error_state(std::move(error_state))
    {
    }
    ClientStatus get_status() const override { return m_status; }
    const ErrorState& get_error_state() const override { return m_error_state; }

private:
    const ClientStatus m_status;
    const ErrorState m_error_state;
};

void log_handler_failure(const std::exception& error)
{
    TAMSU_LOG(error, "Exception thrown in external client state change handler: " << error.what());
}

}  // namespace

std::string transition_description(ClientStatus from, ClientStatus to)
{
    return "State transtion '" + to_string(from) + "' to '" + to_string(to) + "'";
}

ClientConnectionState::ClientConnectionState()
        : m_notifier("conn_state_ntfy", log_handler_failure)
{
}

ClientStatus ClientConnectionState::get_status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

ErrorState ClientConnectionState::get_error_state() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error_state;
}

std::shared_ptr<ClientConnectionStateSnapshot> ClientConnectionState::create_snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::make_shared<ClientConnectionStateSnapshotImpl>(m_status, m_error_state);
}

void ClientConnectionState::set_status(ClientStatus status)
{
    common::contract::expects(status != ClientStatus::error,
                              "set_status cannot be used to set an error state");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_error_state = ErrorState();
    update_status(status);
}

bool ClientConnectionState::set_status_if(ClientStatus expected, ClientStatus status)
{
    common::contract::expects(status != ClientStatus::error,
                              "set_status_if cannot be used to set an error state");
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_status != expected) {
        return false;
    }
    m_error_state = ErrorState();
    update_status(status);
    return true;
}

void ClientConnectionState::set_error(const ErrorState& error)
{
    write_trace("set_error", [&] { return to_string(error); });
    std::lock_guard<std::mutex> lock(m_mutex);
    m_error_state = error;
    update_status(ClientStatus::error);
}

void ClientConnectionState::register_change_handler(ChangeHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    common::contract::expects(!m_handler,
                              "A connection state change handler may only be registered once.");
    m_handler = std::move(handler);
}

void ClientConnectionState::update_status(ClientStatus new_status)
{
    const auto& allowed = state_machine().at(m_status);
    if (allowed.count(new_status) == 0) {
        common::contract::expects(false, transition_description(m_status, new_status));
    }
    const auto old_status = m_status;
    m_status = new_status;
    write_trace("update_status", [&] { return to_string(new_status); });
    if (!m_handler) {
        return;
    }
    // Posted under the lock, so the handler hears the changes in the order they were made.
    auto snapshot = std::make_shared<ClientConnectionStateSnapshotImpl>(m_status, m_error_state);
    m_notifier.send([handler = m_handler, old_status, snapshot = std::move(snapshot)] {
        write_trace("state_change_notifier", [&] {
            return to_string(old_status) + " to " + to_string(snapshot->get_status());
        });
        handler(old_status, snapshot);
    });
}

}  // namespace basecall_service
