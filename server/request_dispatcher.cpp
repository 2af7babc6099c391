#include "server/request_dispatcher.h"

#include "common/logger.h"
#include "server/server_reply.h"

#include <mutex>
#include <utility>

namespace reference_server {

using ipc_tools::Message;
using ipc_tools::MessageType;

RequestDispatcher::RequestDispatcher(ServerState& state, ReadPipeline& pipeline,
                                     std::string endpoint, std::size_t worker_count)
        : m_state(state)
        , m_pipeline(pipeline)
        , m_listings(state, std::move(endpoint), worker_count)
        , m_connect(state, pipeline)
        , m_returns(state)
{
}

boost::optional<Message> RequestDispatcher::handle(zmq::message_t& payload, const std::string& key)
{
    try {
        Message request(payload);
        if (request.get_type() == MessageType::UNSET) {
            return reply(MessageType::BAD_REQUEST, 0, "Message could not be read");
        }
        if (request.get_type() == MessageType::INVALID_PROTOCOL) {
            return reply(MessageType::BAD_REQUEST, 0, "Message has an unknown protocol identifier");
        }
        std::lock_guard<std::mutex> lock(m_state.mutex);
        return dispatch(request, key);
    } catch (const std::exception& error) {
        return reply(MessageType::BAD_REQUEST, 0,
                     std::string("Request could not be handled: ") + error.what());
    }
}

void RequestDispatcher::expire_idle_clients(std::chrono::steady_clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    m_pipeline.expire_idle_clients(now);
}

Message RequestDispatcher::dispatch(const Message& request, const std::string& key)
{
    const auto type = request.get_type();
    const auto* data = request.get_message_data();
    ClientState* client = nullptr;
    if (data->connection_id() != nullptr) {
        const auto id = data->connection_id()->string_view();
        m_state.lost_reads_log.request_from(id);
        client = m_state.clients.touch(id, key, std::chrono::steady_clock::now());
    }
    if (type == MessageType::PASS_FIRST_RAW_BLOCK || type == MessageType::PASS_NEXT_RAW_BLOCK) {
        return m_pipeline.raw_block(*data, type, client);
    }
    const auto* simple = data->content_as_SimpleRequestData();
    if (simple == nullptr) {
        return reply(MessageType::BAD_REQUEST, 0,
                     "Not a request: " + ipc_tools::message_type_as_string(type));
    }
    const std::string text = simple->text() != nullptr ? simple->text()->str() : std::string();
    auto& files = m_state.files;
    switch (type) {
    case MessageType::LOAD_CONFIG:
        return files.load_config(text, m_state.faults);
    case MessageType::LOAD_INDEX:
        return files.load_index(text, m_state.faults);
    case MessageType::LOAD_BED:
        return files.load_bed_file(text, m_state.faults);
    case MessageType::GET_CONFIGS:
        return m_listings.get_configs();
    case MessageType::GET_INDICES:
        return m_listings.get_indices();
    case MessageType::GET_BARCODE_KITS:
        return m_listings.get_barcode_kits();
    case MessageType::GET_LAMP_KITS:
        return m_listings.get_lamp_kits();
    case MessageType::GET_STATISTICS:
        return m_listings.get_statistics();
    case MessageType::GET_STATE:
        return m_listings.get_state();
    case MessageType::CONNECT:
        return m_connect.connect(*simple, key);
    case MessageType::TERMINATE:
        return reply(MessageType::BAD_REQUEST, 0, "TERMINATE is not supported by this server");
    default:
        return dispatch_to_client(*data, *simple, type, client);
    }
}

Message RequestDispatcher::dispatch_to_client(const tamsu_ipc::MessageData& data,
                                              const tamsu_ipc::SimpleRequestData& request,
                                              MessageType type, ClientState* client)
{
    if (data.connection_id() == nullptr || data.connection_id()->size() == 0) {
        return reply(MessageType::BAD_REQUEST, 0,
                     ipc_tools::message_type_as_string(type) + " needs a connection id");
    }
    if (client == nullptr) {
        return reply(MessageType::CLIENT_NOT_RECOGNISED);
    }
    switch (type) {
    case MessageType::HEARTBEAT_PING:
        return reply(MessageType::HEARTBEAT_ECHO);
    case MessageType::DISCONNECT:
        TAMSU_LOG(info, "client " << client->id << " disconnected");
        m_state.clients.remove(data.connection_id()->string_view());
        return reply(MessageType::DISCONNECTED);
    case MessageType::GET_FIRST_CALLED_BLOCK:
        return m_returns.first_called_block(*client, request.value());
    case MessageType::GET_NEXT_CALLED_BLOCK:
        return m_returns.next_called_block(*client, request.value());
    default:
        return reply(MessageType::BAD_REQUEST, 0,
                     "Unsupported request: " + ipc_tools::message_type_as_string(type));
    }
}

}  // namespace reference_server
