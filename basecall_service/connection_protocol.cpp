#include "basecall_service/connection_protocol.h"

#include "common/logger.h"

#include <chrono>
#include <thread>

namespace basecall_service {

using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

constexpr auto k_load_poll_interval = std::chrono::milliseconds(500);

// Text of a simple reply, empty when the reply has none.
std::string reply_text(const Message& reply)
{
    const auto* content = reply.get_message_data()->content_as_SimpleReplyData();
    return content && content->text() ? content->text()->str() : std::string();
}

std::uint32_t wire_priority(std::uint32_t priority)
{
    return priority < 3 ? 2 - priority : priority;
}

std::string refusal(const char* reason, const std::string& name)
{
    return "Could not register on server (connection refused due to " + std::string(reason) +
           " \"" + name + "\").";
}

}  // namespace

ErrorState create_connect_error_state(MessageType reply_type, const ipc_tools::ConnectionInfo& info)
{
    switch (reply_type) {
    case MessageType::INVALID_CONFIG:
        return {ConnectionError::basecall_config_unavailable,
                refusal("unsupported basecall config", info.m_config_name)};
    case MessageType::INVALID_BARCODE_KIT:
        return {ConnectionError::barcode_kit_unavailable,
                refusal("unsupported barcoding kit", info.m_barcode_kits)};
    case MessageType::INVALID_INDEX:
        return {ConnectionError::align_index_unavailable,
                refusal("unsupported alignment index", info.m_alignment_index)};
    case MessageType::INVALID_BED:
        return {ConnectionError::bed_file_unavailable,
                refusal("unsupported bed file", info.m_bed_file)};
    case MessageType::INDEX_NO_SEQ:
        return {ConnectionError::align_index_no_seq,
                refusal("full alignment not being supported by alignment index",
                        info.m_alignment_index)};
    default:
        return {ConnectionError::invalid_response,
                "Could not register on server (invalid response)."};
    }
}

ErrorState create_load_request_error_state(MessageType request_type, const std::string& reason)
{
    switch (request_type) {
    case MessageType::LOAD_INDEX:
        return {ConnectionError::align_index_unavailable, reason};
    case MessageType::LOAD_BED:
        return {ConnectionError::bed_file_unavailable, reason};
    case MessageType::LOAD_CONFIG:
        return {ConnectionError::basecall_config_unavailable, reason};
    default:
        return {ConnectionError::failed, reason};
    }
}

ConnectionProtocol::ConnectionProtocol(ClientConnectionState& client_state)
        : m_client_state(client_state)
{
}

void ConnectionProtocol::set_connection_params(const std::string& address, unsigned int timeout)
{
    m_server_address = address;
    m_connection_timeout = timeout;
    const auto trace = create_trace("set_connection_params");
    trace.message([&] { return "port: " + address; });
    trace.message([&] { return "timeout: " + std::to_string(timeout); });
}

void ConnectionProtocol::set_curve_keys(const ipc_tools::CurveKeys& keys)
{
    m_curve_keys = keys;
}

RequestBrokerAdapter*
ConnectionProtocol::establish_server_connection(const ipc_tools::ConnectionInfo& info,
                                                std::uint32_t file_load_timeout)
{
    const auto trace = create_trace("establish_server_connection");
    m_connection_info = info;
    m_server_file_load_timeout = file_load_timeout;
    m_error_state = ErrorState();
    TAMSU_LOG(info, "Connecting to server as '" << m_connection_info.m_client_name << "'");

    if (!(prepare_connection() && check_connection_values() && load_config() &&
          load_alignment_index() && load_bed_file() && connect())) {
        return nullptr;
    }
    m_client_state.set_status(ClientStatus::connected);
    TAMSU_LOG(info, "Connected to server as '" << m_connection_info.m_client_name
                                               << "'. Connection id: " << m_connection_id);
    return &m_request_broker;
}

const interfaces::ConfigDetails& ConnectionProtocol::get_config_details() const
{
    return m_config_details;
}

std::string ConnectionProtocol::get_connection_id() const
{
    return m_connection_id;
}

const std::string& ConnectionProtocol::get_alignment_file_header() const
{
    return m_alignment_file_header;
}

const ErrorState& ConnectionProtocol::error_state() const
{
    return m_error_state;
}

bool ConnectionProtocol::prepare_connection()
{
    m_client_state.set_status(ClientStatus::preparing_connection);
    if (!m_request_broker.prepare_connection(m_server_address, m_connection_timeout,
                                             m_curve_keys)) {
        m_error_state = m_request_broker.error_state();
        return false;
    }
    return true;
}

// The connection string has no escapes: a value holding one of its separators would be split
// differently by the server, so such values are refused before anything is sent.
bool ConnectionProtocol::check_connection_values()
{
    const auto& info = m_connection_info;
    const std::pair<const char*, std::string> values[] = {
            {"configuration name", info.m_config_name},
            {"client name", info.m_client_name},
            {"barcode kits", info.m_barcode_kits},
            {"alignment type", info.m_alignment_type},
            {"lamp kit", info.m_barcoding_options.m_lamp_kit.value_or("")}};
    for (const auto& [name, value] : values) {
        const auto found = value.find_first_of(":>=;");
        if (found != std::string::npos) {
            return fail(ConnectionError::failed, std::string("The ") + name + " '" + value +
                                                         "' contains '" + value[found] +
                                                         "', which a connection cannot carry");
        }
    }
    if (info.m_alignment_index.find(';') != std::string::npos) {
        return fail(ConnectionError::failed,
                    "The alignment index path '" + info.m_alignment_index +
                            "' contains ';', which a connection cannot carry");
    }
    return true;
}

bool ConnectionProtocol::load_config()
{
    m_client_state.set_status(ClientStatus::loading_config);
    const auto& name = m_connection_info.m_config_name;
    return load_file_on_server(MessageType::LOAD_CONFIG, name, m_server_file_load_timeout) &&
           retrieve_config_details(name);
}

bool ConnectionProtocol::load_alignment_index()
{
    m_client_state.set_status(ClientStatus::loading_alignment_index);
    const auto& index = m_connection_info.m_alignment_index;
    return index.empty() ||
           (load_file_on_server(MessageType::LOAD_INDEX, index, m_server_file_load_timeout) &&
            retrieve_alignment_file_header(index));
}

bool ConnectionProtocol::load_bed_file()
{
    m_client_state.set_status(ClientStatus::loading_bed_file);
    const auto& bed_file = m_connection_info.m_bed_file;
    return bed_file.empty() ||
           load_file_on_server(MessageType::LOAD_BED, bed_file, m_server_file_load_timeout);
}

bool ConnectionProtocol::connect()
{
    const auto trace = create_trace("connect");
    m_client_state.set_status(ClientStatus::connecting);
    std::string connection_string;
    try {
        connection_string = m_connection_info.build_connection_string();
    } catch (const std::exception& error) {
        // An index or BED file that vanished since the host named it.
        return fail(ConnectionError::failed, error.what());
    }
    trace.message([&] { return "config string: " + connection_string; });

    Message reply;
    if (!exchange(Message(MessageType::CONNECT, "", wire_priority(m_connection_info.m_priority),
                          connection_string),
                  reply)) {
        return false;
    }
    if (reply.get_type() != MessageType::CONNECTED) {
        m_error_state = create_connect_error_state(reply.get_type(), m_connection_info);
        return false;
    }
    const auto connection_id = reply_text(reply);
    if (connection_id.empty()) {
        return fail(ConnectionError::invalid_response,
                    "Could not register on server (CONNECTED reply carries no connection id).");
    }
    m_connection_id = connection_id;
    trace.message([&] { return "Connected. id: " + m_connection_id; });
    return true;
}

bool ConnectionProtocol::load_file_on_server(MessageType type, const std::string& file,
                                             std::uint32_t timeout)
{
    const auto trace = create_trace("load_file_on_server");
    trace.message(file);
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::seconds(timeout);
    while (true) {
        if (try_load_on_server(type, file)) {
            return true;
        }
        if (m_error_state.code != ConnectionError::no_error) {
            return false;
        }
        // The server answered LOADING: ask again later, within the time allowed.
        if (std::chrono::steady_clock::now() - start > limit) {
            break;
        }
        std::this_thread::sleep_for(k_load_poll_interval);
    }
    trace.message("timeout");
    return fail(ConnectionError::file_load_timeout,
                "Server did not process load request '" + ipc_tools::message_type_as_string(type) +
                        "' for file " + file + "within the " + std::to_string(timeout) +
                        "s timeout. Try increasing server_file_load_timeout");
}

bool ConnectionProtocol::try_load_on_server(MessageType type, const std::string& file)
{
    const auto trace = create_trace("try_load_on_server");
    Message reply;
    if (!exchange(Message(type, "", 0, file), reply)) {
        return false;
    }
    trace.message([&] { return ipc_tools::message_type_as_string(reply.get_type()); });
    switch (reply.get_type()) {
    case MessageType::SUCCESS:
        return true;
    case MessageType::LOADING:
        return false;
    case MessageType::REQUEST_FAILED:
        m_error_state = create_load_request_error_state(type, reply_text(reply));
        trace.message([&] { return to_string(m_error_state); });
        return false;
    default:
        return fail(ConnectionError::invalid_response,
                    "Error. Load request '" + ipc_tools::message_type_as_string(type) +
                            "' received an invalid reply type: " +
                            ipc_tools::message_type_as_string(reply.get_type()));
    }
}

bool ConnectionProtocol::retrieve_config_details(const std::string& name)
{
    const auto trace = create_trace("retrieve_config_details");
    trace.message(name);
    Message reply;
    if (!exchange(Message(MessageType::GET_CONFIGS, "", 0, ""), reply)) {
        return false;
    }
    if (reply.get_type() != MessageType::RETURN_CONFIGS) {
        return fail(ConnectionError::invalid_response,
                    "Could not get details from server (invalid reply type). " +
                            ipc_tools::message_type_as_string(reply.get_type()));
    }
    const auto* list = reply.get_message_data()->content_as_ConfigListData();
    if (list == nullptr || list->configs() == nullptr) {
        return fail(ConnectionError::invalid_response,
                    "Could not get details from server (reply carries no configuration list).");
    }
    for (const auto* entry : *list->configs()) {
        if (entry->name() == nullptr || entry->name()->str() != name) {
            continue;
        }
        if (entry->model_type() == nullptr) {
            return fail(ConnectionError::invalid_response,
                        "Could not get details from server (configuration " + name +
                                " has no model_type).");
        }
        m_config_details.config_name = name;
        m_config_details.qscore_offset = entry->qscore_offset();
        m_config_details.qscore_scale = entry->qscore_scale();
        m_config_details.temp_weight = entry->temp_weight();
        m_config_details.temp_bias = entry->temp_bias();
        m_config_details.model_stride = entry->model_stride();
        m_config_details.label_length = entry->label_length();
        m_config_details.model_type = entry->model_type()->str();
        return true;
    }
    return fail(ConnectionError::basecall_config_unavailable,
                "could not retrieve details for config from server: " + name);
}

bool ConnectionProtocol::retrieve_alignment_file_header(const std::string& index_file)
{
    const auto trace = create_trace("retrieve_alignment_file_header");
    Message reply;
    if (!exchange(Message(MessageType::GET_INDICES, "", 0, ""), reply)) {
        return false;
    }
    if (reply.get_type() != MessageType::RETURN_CONFIGS) {
        return fail(ConnectionError::invalid_response,
                    "Could not get alignment indices from server (invalid reply type). " +
                            ipc_tools::message_type_as_string(reply.get_type()));
    }
    const auto* list = reply.get_message_data()->content_as_ConfigListData();
    if (list == nullptr || list->indices() == nullptr) {
        return fail(ConnectionError::invalid_response,
                    "Could not get alignment indices from server (reply carries no index list).");
    }
    for (const auto* entry : *list->indices()) {
        if (entry->name() != nullptr && entry->name()->str() == index_file) {
            m_alignment_file_header = entry->header() ? entry->header()->str() : std::string();
            return true;
        }
    }
    return fail(ConnectionError::align_index_unavailable,
                "Could not retrieve alignment file header for: " + index_file);
}

void ConnectionProtocol::disconnect_from_server() const
{
    const auto trace = create_trace("disconnect_from_server");
    trace.message([&] { return "sending DISCONNECT with ID: " + m_connection_id; });
    Message request(MessageType::DISCONNECT, m_connection_id, 0, "");
    Message reply;
    if (!m_request_broker.send_request(request, reply)) {
        const auto error = to_string(m_request_broker.error_state());
        trace.message(error);
        TAMSU_LOG(warning, "Error disconnecting from server: " << error);
        return;
    }
    const auto type = ipc_tools::message_type_as_string(reply.get_type());
    trace.message([&] { return "reply type: " + type; });
    if (reply.get_type() != MessageType::DISCONNECTED) {
        TAMSU_LOG(info, "Could not disconnect from basecall server, invalid reply: " << type);
    }
}

void ConnectionProtocol::stop()
{
    write_trace("stop", "stop");
    m_request_broker.request_stop();
}

bool ConnectionProtocol::exchange(Message request, Message& reply)
{
    if (!m_request_broker.send_request(request, reply)) {
        m_error_state = m_request_broker.error_state();
        return false;
    }
    return true;
}

bool ConnectionProtocol::fail(ConnectionError code, std::string message)
{
    m_error_state = {code, std::move(message)};
    return false;
}

}  // namespace basecall_service
