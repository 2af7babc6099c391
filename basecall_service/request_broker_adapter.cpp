#include "basecall_service/request_broker_adapter.h"

#include "common/tracing/trace.h"

#include <system_error>

TAMSU_HFTRACE_DOMAIN(basecall_service, RequestBrokerAdapter)

namespace basecall_service {

namespace {

using FrequentTrace =
        common::tracing::TraceDomainHelper<hftrace::basecall_service::RequestBrokerAdapter>;

ErrorState translate_current_exception()
{
    try {
        throw;
    } catch (const ipc_tools::BadReply& error) {
        return {ConnectionError::bad_reply, error.what()};
    } catch (const ipc_tools::BadRequest& error) {
        return {ConnectionError::bad_request, error.what()};
    } catch (const ipc_tools::TimeoutError& error) {
        return {ConnectionError::timed_out, error.what()};
    } catch (const ipc_tools::InvalidResponse& error) {
        return {ConnectionError::invalid_response, error.what()};
    } catch (const ipc_tools::HandshakeError& error) {
        // Not a lost server: reconnecting would fail the same way.
        return {ConnectionError::failed, error.what()};
    } catch (const std::system_error& error) {
        return {ConnectionError::failed,
                "std::system_error[" + std::string(error.code().category().name()) + ":" +
                        std::to_string(error.code().value()) + "] : " + error.what()};
    } catch (const zmq::error_t& error) {
        return {ConnectionError::failed, std::string("zmq::error_t : ") + error.what()};
    } catch (const std::exception& error) {
        // Not expected from the broker (a contract violation, say); still a failure.
        return {ConnectionError::failed, error.what()};
    }
}

}  // namespace

bool RequestBrokerAdapter::invoke(const std::function<void()>& action)
{
    m_error_state = ErrorState();
    try {
        action();
        return true;
    } catch (const std::exception&) {
        m_error_state = translate_current_exception();
    }
    FrequentTrace::write_trace("invoke", [this] { return to_string(m_error_state); });
    return false;
}

bool RequestBrokerAdapter::prepare_connection(const std::string& address, unsigned int timeout,
                                              const ipc_tools::CurveKeys& keys)
{
    return invoke([&] { m_broker.prepare_connection(address, timeout, keys); });
}

bool RequestBrokerAdapter::send_request(ipc_tools::Message& request, ipc_tools::Message& reply)
{
    return invoke([&] { m_broker.send_request(request, reply); });
}

bool RequestBrokerAdapter::ping_server_if_quiet(const std::string& connection_id)
{
    return invoke([this, connection_id] { m_broker.ping_server_if_quiet(connection_id); });
}

}  // namespace basecall_service
