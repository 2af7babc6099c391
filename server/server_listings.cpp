#include "server/server_listings.h"

#include "ipc_tools/protocol_version.h"
#include "server/catalogue.h"
#include "server/server_reply.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <vector>

namespace reference_server {

using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

constexpr const char* k_server_version = "0.1.0";

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

template <typename Entry>
using Entries = flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<Entry>>>;

// A ConfigListData reply with `entries` in the field that `add` sets.
template <typename Entry>
Message config_list(flatbuffers::FlatBufferBuilder& builder,
                    const std::vector<flatbuffers::Offset<Entry>>& entries,
                    void (tamsu_ipc::ConfigListDataBuilder::*add)(Entries<Entry>))
{
    const auto vector = builder.CreateVector(entries);
    tamsu_ipc::ConfigListDataBuilder list(builder);
    (list.*add)(vector);
    return finish_content(builder, tamsu_ipc::MessageContent::ConfigListData,
                          list.Finish().Union());
}

void write_information(JsonWriter& json, const std::string& endpoint, std::size_t worker_count,
                       std::int64_t uptime, std::size_t client_count)
{
    json.Key("ServerInformation");
    json.StartObject();
    json.Key("name");
    json.String("tamsu reference basecall server");
    json.Key("version");
    json.String(k_server_version);
    json.Key("protocol_version");
    json.String(ipc_tools::current_version_as_string().c_str());
    json.Key("endpoint");
    json.String(endpoint.c_str());
    json.Key("uptime_seconds");
    json.Int64(uptime);
    json.Key("worker_threads");
    json.Uint64(worker_count);
    json.Key("connected_clients");
    json.Uint64(client_count);
    json.EndObject();
}

void write_client(JsonWriter& json, const ClientState& client)
{
    // No connection id: whoever can ask would be able to act as that client.
    json.StartObject();
    json.Key("client_name");
    json.String(client.info.m_client_name.c_str());
    json.Key("config");
    json.String(client.info.m_config_name.c_str());
    json.Key("priority");
    json.Uint(client.priority);
    json.Key("connection_string");
    json.String(client.connection_string.c_str());
    json.Key("barcode_kits");
    json.String(client.info.m_barcode_kits.c_str());
    json.Key("alignment_index");
    json.String(client.info.m_alignment_index.c_str());
    json.Key("bed_file");
    json.String(client.info.m_bed_file.c_str());
    json.Key("timeout_interval");
    json.Uint(client.info.m_timeout_interval);
    json.Key("reads_in_flight");
    json.Uint64(client.reads_in_flight());
    json.Key("reads_returned");
    json.Uint(client.reads_returned);
    json.EndObject();
}

void write_names(JsonWriter& json, const char* key, const std::vector<std::string>& names)
{
    json.Key(key);
    json.StartArray();
    for (const auto& name : names) {
        json.String(name.c_str());
    }
    json.EndArray();
}

template <typename Map>
std::vector<std::string> keys_of(const Map& map)
{
    std::vector<std::string> keys;
    for (const auto& entry : map) {
        keys.push_back(entry.first);
    }
    return keys;
}

void write_statistics(JsonWriter& json, const ServerState& state)
{
    const auto& counters = state.counters;
    json.Key("Statistics");
    json.StartObject();
    json.Key("reads_received");
    json.Uint64(counters.reads_received);
    json.Key("reads_called");
    json.Uint64(counters.reads_called);
    json.Key("samples_called");
    json.Uint64(counters.samples_called);
    json.Key("bases_called");
    json.Uint64(counters.bases_called);
    json.Key("requests_received");
    json.Uint64(state.requests_received);
    json.EndObject();
}

}  // namespace

ServerListings::ServerListings(const ServerState& state, std::string endpoint,
                               std::size_t worker_count)
        : m_state(state)
        , m_endpoint(std::move(endpoint))
        , m_worker_count(worker_count)
{
}

Message ServerListings::get_configs() const
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::ConfigDetailsData>> entries;
    for (const auto& name : m_state.files.configs()) {
        const auto& config = *find_config(name);
        entries.push_back(tamsu_ipc::CreateConfigDetailsDataDirect(
                builder, config.qscore_offset, config.qscore_scale, config.temp_weight,
                config.temp_bias, config.model_stride, config.label_length, config.name.c_str(),
                config.model_type.c_str()));
    }
    const auto list = tamsu_ipc::CreateConfigListData(builder, builder.CreateVector(entries));
    return finish_content(builder, tamsu_ipc::MessageContent::ConfigListData, list.Union());
}

Message ServerListings::get_indices() const
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::AlignmentIndexData>> entries;
    for (const auto& entry : m_state.files.indices()) {
        entries.push_back(tamsu_ipc::CreateAlignmentIndexDataDirect(
                builder, entry.first.c_str(), entry.second->sam_header().c_str()));
    }
    return config_list(builder, entries, &tamsu_ipc::ConfigListDataBuilder::add_indices);
}

Message ServerListings::get_barcode_kits() const
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::BarcodeKitDefinition>> entries;
    for (const auto& kit : built_in_barcode_kits()) {
        entries.push_back(tamsu_ipc::CreateBarcodeKitDefinitionDirect(
                builder, kit.name.c_str(), kit.is_dual, kit.is_both_ends, kit.twelve_a,
                kit.first_index, kit.last_index, kit.first_inner_index, kit.last_inner_index,
                kit.name_format.c_str()));
    }
    return config_list(builder, entries, &tamsu_ipc::ConfigListDataBuilder::add_barcode_kits);
}

Message ServerListings::get_lamp_kits() const
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::LampKitDefinition>> entries;
    for (const auto& kit : built_in_lamp_kits()) {
        const auto targets = builder.CreateVectorOfStrings(kit.targets);
        entries.push_back(tamsu_ipc::CreateLampKitDefinition(
                builder, builder.CreateString(kit.name), kit.first_index, kit.last_index,
                builder.CreateString(kit.name_format), targets));
    }
    return config_list(builder, entries, &tamsu_ipc::ConfigListDataBuilder::add_lamp_kits);
}

Message ServerListings::get_statistics() const
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::ClientStatsData>> entries;
    m_state.clients.for_each([&](const ClientState& client) {
        entries.push_back(tamsu_ipc::CreateClientStatsData(
                builder, static_cast<std::uint32_t>(client.reads_in_flight()),
                client.reads_returned));
    });
    const auto& counters = m_state.counters;
    const auto stats = tamsu_ipc::CreateServerStats(
            builder, counters.reads_received, counters.reads_called, counters.samples_called,
            counters.bases_called, builder.CreateVector(entries));
    return finish_content(builder, tamsu_ipc::MessageContent::ServerStats, stats.Union());
}

Message ServerListings::get_state() const
{
    rapidjson::StringBuffer buffer;
    JsonWriter json(buffer);
    const auto uptime =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m_started).count();
    json.StartObject();
    write_information(json, m_endpoint, m_worker_count, uptime, m_state.clients.size());
    json.Key("Clients");
    json.StartArray();
    m_state.clients.for_each([&json](const ClientState& client) { write_client(json, client); });
    json.EndArray();

    write_names(json, "LoadedConfigs", m_state.files.configs());
    write_names(json, "LoadedIndices", keys_of(m_state.files.indices()));
    write_names(json, "LoadedBedFiles", keys_of(m_state.files.bed_files()));
    write_statistics(json, m_state);
    json.EndObject();
    return reply(MessageType::RETURN_STATE, 0, buffer.GetString());
}

}  // namespace reference_server
