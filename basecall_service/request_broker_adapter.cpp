#include "basecall_service/request_broker_adapter.h"

#include "basecall_service/exception_translation.h"
#include "common/tracing/trace.h"

TAMSU_HFTRACE_DOMAIN(basecall_service, RequestBrokerAdapter)

namespace basecall_service {

namespace {

using FrequentTrace =
        common::tracing::TraceDomainHelper<hftrace::basecall_service::RequestBrokerAdapter>;

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
