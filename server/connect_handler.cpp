#include "server/connect_handler.h"

#include "common/logger.h"
#include "server/catalogue.h"
#include "server/server_reply.h"

#include <random>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace reference_server {

using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

std::vector<std::string> split_kits(const std::string& text)
{
    std::vector<std::string> names;
    std::string current;
    for (const char c : text) {
        if (c == ' ' || c == ',') {
            if (!current.empty()) {
                names.push_back(current);
            }
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) {
        names.push_back(current);
    }
    return names;
}

std::string random_nonce()
{
    std::random_device device;
    std::ostringstream text;
    text << std::hex << device();
    return text.str();
}

std::pair<bool, ipc_tools::ConnectionInfo> parse_connection_string(const std::string& text,
                                                                   std::string& error)
{
    try {
        return ipc_tools::ConnectionInfo::parse(text, error);
    } catch (const std::out_of_range&) {
        error = "the options field has no timeout_interval";
        return {false, ipc_tools::ConnectionInfo{}};
    }
}

}  // namespace

ConnectHandler::ConnectHandler(ServerState& state, ReadPipeline& pipeline)
        : m_state(state)
        , m_pipeline(pipeline)
        , m_nonce(random_nonce())
{
}

Message ConnectHandler::connect(const tamsu_ipc::SimpleRequestData& request, const std::string& key)
{
    auto& clients = m_state.clients;
    if (clients.full()) {
        // Room left by clients already gone.
        m_pipeline.expire_idle_clients(std::chrono::steady_clock::now());
    }
    // BAD_REQUEST is the one refusal a client reports with its text and does not retry:
    // CLIENT_NOT_RECOGNISED makes it reconnect at once, the others name what it asked for.
    if (clients.full()) {
        return reply(MessageType::BAD_REQUEST, 0,
                     "The server serves at most " + std::to_string(clients.max_clients()) +
                             " clients at once and has that many; try again when one has "
                             "disconnected");
    }
    const std::string text = request.text() != nullptr ? request.text()->str() : std::string();
    std::string error;
    auto parsed = parse_connection_string(text, error);
    if (!parsed.first) {
        return reply(MessageType::BAD_REQUEST, 0, "Invalid connection string: " + error);
    }
    ClientState client;
    client.info = std::move(parsed.second);
    client.priority = request.value();
    client.connection_string = text;
    client.owner_key = key;
    if (auto refused = resolve_call_settings(client)) {
        return std::move(*refused);
    }
    client.id = "client-" + std::to_string(m_next_client_number++) + "-" + m_nonce;
    TAMSU_LOG(info, "client '" << client.info.m_client_name << "' connected as " << client.id);
    auto connected = reply(MessageType::CONNECTED, 0, client.id);
    clients.add(std::move(client), std::chrono::steady_clock::now());
    return connected;
}

boost::optional<Message> ConnectHandler::resolve_call_settings(ClientState& client) const
{
    const auto& info = client.info;
    const auto& files = m_state.files;
    if (!files.has_config(info.m_config_name)) {
        return reply(MessageType::INVALID_CONFIG);
    }
    client.call.config = find_config(info.m_config_name);
    for (const auto& name : split_kits(info.m_barcode_kits)) {
        const auto* kit = find_barcode_kit(name);
        if (kit == nullptr) {
            return reply(MessageType::INVALID_BARCODE_KIT, 0, "Unknown barcode kit: " + name);
        }
        client.call.kits.push_back(kit);
    }
    const auto& lamp_kit = info.m_barcoding_options.m_lamp_kit;
    if (lamp_kit && !lamp_kit->empty()) {
        client.call.lamp = find_lamp_kit(*lamp_kit);
        if (client.call.lamp == nullptr) {
            return reply(MessageType::INVALID_BARCODE_KIT, 0, "Unknown lamp kit: " + *lamp_kit);
        }
    }
    client.call.trim_barcodes = info.m_barcoding_options.m_trim_barcodes.value_or(false);
    return resolve_reference_files(client);
}

boost::optional<Message> ConnectHandler::resolve_reference_files(ClientState& client) const
{
    const auto& info = client.info;
    const auto& files = m_state.files;
    if (!info.m_alignment_index.empty()) {
        const auto found = files.indices().find(info.m_alignment_index);
        if (found == files.indices().end()) {
            return reply(MessageType::INVALID_INDEX);
        }
        if (found->second->sequences.empty()) {
            return reply(MessageType::INDEX_NO_SEQ);
        }
        client.call.index = found->second;
    }
    if (!info.m_bed_file.empty()) {
        const auto found = files.bed_files().find(info.m_bed_file);
        if (found == files.bed_files().end()) {
            return reply(MessageType::INVALID_BED);
        }
        client.call.bed = found->second;
    }
    return boost::none;
}

}  // namespace reference_server
