#include "server/basecall_server.h"

#include "server/read_pipeline.h"
#include "server/request_dispatcher.h"
#include "server/server_state.h"
#include "server/server_transport.h"

#include <algorithm>
#include <mutex>

namespace reference_server {

// Ties the parts together: the transport binds first, so that nothing runs when it cannot; the
// workers start next and the serving thread last.
struct BasecallServer::Impl {
    explicit Impl(const ServerOptions& options)
            : state(options)
            , transport(options, state)
            , pipeline(state)
            , worker_count(std::max<std::size_t>(options.worker_threads, 1))
            , dispatcher(state, pipeline, transport.endpoint(), worker_count)
    {
        pipeline.start(worker_count);
        transport.start(dispatcher);
    }
    ~Impl() { stop(); }

    void stop()
    {
        std::call_once(stopped, [this] {
            transport.stop();
            pipeline.stop();
        });
    }

    ServerState state;
    ServerTransport transport;
    ReadPipeline pipeline;
    const std::size_t worker_count;
    RequestDispatcher dispatcher;
    std::once_flag stopped;
};

BasecallServer::BasecallServer(ServerOptions options)
        : m_impl(std::make_unique<Impl>(options))
{
}

BasecallServer::~BasecallServer() = default;

void BasecallServer::stop()
{
    m_impl->stop();
}

std::string BasecallServer::endpoint() const
{
    return m_impl->transport.endpoint();
}

FaultSettings BasecallServer::faults() const
{
    std::lock_guard<std::mutex> lock(m_impl->state.mutex);
    return m_impl->state.faults;
}

void BasecallServer::set_faults(const FaultSettings& faults)
{
    std::lock_guard<std::mutex> lock(m_impl->state.mutex);
    m_impl->state.faults = faults;
}

void BasecallServer::forget_all_clients()
{
    std::lock_guard<std::mutex> lock(m_impl->state.mutex);
    m_impl->state.clients.clear();
}

std::size_t BasecallServer::client_count() const
{
    std::lock_guard<std::mutex> lock(m_impl->state.mutex);
    return m_impl->state.clients.size();
}

ServerCounters BasecallServer::counters() const
{
    std::lock_guard<std::mutex> lock(m_impl->state.mutex);
    return m_impl->state.counters;
}

}  // namespace reference_server
