#include "server/basecall_server.h"

#include "common/logger.h"
#include "ipc_tools/connection_info.h"
#include "ipc_tools/message.h"
#include "ipc_tools/protocol_version.h"
#include "server/bind_address.h"
#include "server/called_read.h"
#include "server/catalogue.h"
#include "server/client_registry.h"
#include "server/lost_reads_log.h"
#include "server/zap_handler.h"
#include "vask/util/set_thread_name.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <zmq.hpp>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace reference_server {

namespace {

using ipc_tools::Message;
using ipc_tools::MessageType;
using Clock = std::chrono::steady_clock;

constexpr const char* k_server_version = "0.1.0";
constexpr std::size_t k_max_reserved_samples = std::size_t{1} << 24;
// How often idle clients are looked for; they expire at most this late.
constexpr auto k_expiry_interval = std::chrono::milliseconds(250);

// Everything a worker needs to call one read, copied so that it does not touch client state.
struct CallJob {
    std::string client_id;
    std::uint64_t number = 0;  // tells the job's read apart once its client dropped it
    IncomingRead read;
    CallSettings call;
    Clock::time_point received_at;
    std::chrono::milliseconds call_time{0};
};

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

Message reply(MessageType type, unsigned int value = 0, const std::string& text = {})
{
    return Message(type, "", value, text);
}

Message finish_content(flatbuffers::FlatBufferBuilder& builder, tamsu_ipc::MessageContent type,
                       flatbuffers::Offset<void> content)
{
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_version(&ipc_tools::current_protocol_version());
    root.add_content_type(type);
    root.add_content(content);
    builder.Finish(root.Finish(), ipc_tools::k_file_identifier);
    return Message(builder);
}

// Under CURVE every message names the client key that sent it (see ZapHandler).
std::string sender_key(const zmq::message_t& frame)
{
    const char* key = zmq_msg_gets(frame.handle(), "User-Id");
    return key != nullptr ? key : "";
}

std::string random_nonce()
{
    std::random_device device;
    std::ostringstream text;
    text << std::hex << device();
    return text.str();
}

}  // namespace

struct BasecallServer::Impl {
    explicit Impl(ServerOptions server_options);
    ~Impl() { stop(); }

    void stop();
    void enable_curve();
    void serve();
    void work();
    void receive_one();
    void expire_idle_clients(Clock::time_point now);
    bool stay_silent();
    boost::optional<Message> handle(zmq::message_t& payload);
    Message dispatch(const Message& request);

    // Request handlers; called on the serving thread with the state lock held.
    Message load_config(const std::string& name);
    Message load_index(const std::string& path);
    Message load_bed_file(const std::string& path);
    bool load_delay_over(MessageType type, const std::string& name);
    Message get_configs();
    Message get_indices();
    Message get_barcode_kits();
    Message get_lamp_kits();
    Message get_statistics();
    Message get_state();
    Message connect(const tamsu_ipc::SimpleRequestData& request);
    Message raw_block(const tamsu_ipc::MessageData& data, MessageType type, ClientState* sender);
    Message first_called_block(ClientState& client, std::uint32_t flags);
    Message next_called_block(ClientState& client, std::uint32_t tag);
    void report_lost_reads(ClientState& client);
    void finish_receiving(ClientState& client, IncomingRead read);
    void complete(CallJob& job, std::shared_ptr<CompletedRead> done);

    ServerOptions options;
    zmq::context_t context{1};
    zmq::socket_t socket{context, zmq::socket_type::router};
    std::vector<zmq::message_t> frames;  // of the request being served; kept to reuse
    std::unique_ptr<ZapHandler> zap;     // with CURVE only
    std::string request_key;             // client key of the request being served, under CURVE
    std::string bound_endpoint;
    const Clock::time_point started = Clock::now();
    const std::string nonce = random_nonce();

    mutable std::mutex mutex;
    FaultSettings faults;
    ServerCounters counters;
    std::vector<std::string> loaded_configs;
    std::map<std::string, std::shared_ptr<const AlignmentIndex>> indices;
    std::map<std::string, std::shared_ptr<const BedFile>> bed_files;
    std::map<std::pair<MessageType, std::string>, Clock::time_point> pending_loads;
    ClientRegistry clients;
    std::uint64_t next_client_number = 1;
    std::uint64_t next_job_number = 1;
    LostReadsLog lost_reads_log;
    std::uint64_t requests_received = 0;

    std::condition_variable jobs_changed;
    std::deque<CallJob> jobs;
    bool stopping = false;
    std::atomic<bool> stop_serving{false};
    std::once_flag stopped;
    std::thread server_thread;
    std::vector<std::thread> workers;
};

BasecallServer::Impl::Impl(ServerOptions server_options)
        : options(std::move(server_options))
        , faults(options.faults)
        , clients(options.max_clients)
        , lost_reads_log(options.lost_reads_file)
{
    socket.set(zmq::sockopt::linger, 0);
    enable_curve();
    // Larger messages are refused by ZeroMQ as they arrive, before anything is allocated for
    // them, and their sender is disconnected.
    socket.set(zmq::sockopt::maxmsgsize, static_cast<std::int64_t>(k_max_message_bytes));
    const auto endpoint = to_bind_endpoint(options.address, options.bind_all);
    check_ipc_path_unclaimed(endpoint);
    socket.bind(endpoint);
    bound_endpoint = socket.get(zmq::sockopt::last_endpoint);
    const auto worker_count = std::max<std::size_t>(options.worker_threads, 1);
    for (std::size_t i = 0; i < worker_count; ++i) {
        workers.emplace_back([this] { work(); });
    }
    server_thread = std::thread([this] { serve(); });
}

void BasecallServer::Impl::stop()
{
    std::call_once(stopped, [this] {
        stop_serving = true;
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        jobs_changed.notify_all();
        if (server_thread.joinable()) {
            server_thread.join();
        }
        for (auto& worker : workers) {
            worker.join();
        }
        socket.close();
    });
}

void BasecallServer::Impl::enable_curve()
{
    if (options.curve.secret_key.empty()) {
        return;
    }
    // Run whenever CURVE is on, also without an allow list: it names the sender of every message.
    zap = std::make_unique<ZapHandler>(context, options.curve.allowed_client_keys);
    socket.set(zmq::sockopt::curve_server, true);
    socket.set(zmq::sockopt::curve_secretkey, options.curve.secret_key);
}

void BasecallServer::Impl::serve()
{
    vask::util::set_thread_name("toy_server");
    // A blocking receive costs fewer system calls per request than polling first; the short
    // time-out is what lets stop() be noticed promptly.
    socket.set(zmq::sockopt::rcvtimeo, 50);
    auto next_expiry = Clock::now() + k_expiry_interval;
    while (!stop_serving) {
        try {
            receive_one();
        } catch (const std::exception& error) {
            TAMSU_LOG(error, "basecall server: " << error.what());
        }
        const auto now = Clock::now();
        if (now >= next_expiry) {
            std::lock_guard<std::mutex> lock(mutex);
            expire_idle_clients(now);
            next_expiry = now + k_expiry_interval;
        }
    }
}

// Called with the state lock held. Reads of expired clients still waiting for a worker are
// dropped too; those being called are dropped when they complete.
void BasecallServer::Impl::expire_idle_clients(Clock::time_point now)
{
    const auto expired = clients.expire(now);
    if (expired.empty()) {
        return;
    }
    TAMSU_LOG(info, expired.size() << " idle client(s) expired");
    const std::set<std::string> gone(expired.begin(), expired.end());
    jobs.erase(
            std::remove_if(jobs.begin(), jobs.end(),
                           [&gone](const CallJob& job) { return gone.count(job.client_id) > 0; }),
            jobs.end());
    // Their state lay scattered over the heap between live allocations: without a trim the
    // process would keep its peak size although the memory is free.
    malloc_trim(0);
}

void BasecallServer::Impl::receive_one()
{
    frames.clear();
    frames.emplace_back();
    if (!socket.recv(frames.back())) {
        return;
    }
    // The rest of a multipart message arrives with its first part.
    while (frames.back().more()) {
        frames.emplace_back();
        if (!socket.recv(frames.back(), zmq::recv_flags::dontwait)) {
            frames.pop_back();
            break;
        }
    }
    // A REQ peer sends [identity, "", payload]; a DEALER may leave out the empty delimiter.
    std::size_t payload_start = 1;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        if (frames[i].size() == 0) {
            payload_start = i + 1;
            break;
        }
    }
    if (zap) {
        request_key = sender_key(frames.back());
    }
    if (stay_silent()) {
        return;
    }
    boost::optional<Message> answer;
    if (frames.size() != payload_start + 1) {
        answer = reply(MessageType::BAD_REQUEST, 0,
                       "Expected exactly one message frame after the envelope");
    } else {
        answer = handle(frames.back());
    }
    if (!answer) {
        return;
    }
    for (std::size_t i = 0; i < payload_start && i < frames.size(); ++i) {
        socket.send(frames[i], zmq::send_flags::sndmore);
    }
    zmq::message_t out;
    answer->transfer_to_zmq(out);
    socket.send(out, zmq::send_flags::none);
}

bool BasecallServer::Impl::stay_silent()
{
    std::lock_guard<std::mutex> lock(mutex);
    ++requests_received;
    if (faults.silent) {
        return true;
    }
    if (faults.silent_requests > 0) {
        --faults.silent_requests;
        return true;
    }
    return false;
}

boost::optional<Message> BasecallServer::Impl::handle(zmq::message_t& payload)
{
    try {
        Message request(payload);
        if (request.get_type() == MessageType::UNSET) {
            return reply(MessageType::BAD_REQUEST, 0, "Message could not be read");
        }
        if (request.get_type() == MessageType::INVALID_PROTOCOL) {
            return reply(MessageType::BAD_REQUEST, 0, "Message has an unknown protocol identifier");
        }
        std::lock_guard<std::mutex> lock(mutex);
        return dispatch(request);
    } catch (const std::exception& error) {
        return reply(MessageType::BAD_REQUEST, 0,
                     std::string("Request could not be handled: ") + error.what());
    }
}

Message BasecallServer::Impl::dispatch(const Message& request)
{
    const auto type = request.get_type();
    const auto* data = request.get_message_data();
    // Any request naming a client keeps it registered.
    ClientState* client = nullptr;
    if (data->connection_id() != nullptr) {
        const auto id = data->connection_id()->string_view();
        lost_reads_log.request_from(id);
        client = clients.touch(id, request_key, Clock::now());
    }
    if (type == MessageType::PASS_FIRST_RAW_BLOCK || type == MessageType::PASS_NEXT_RAW_BLOCK) {
        return raw_block(*data, type, client);
    }
    const auto* simple = data->content_as_SimpleRequestData();
    if (simple == nullptr) {
        return reply(MessageType::BAD_REQUEST, 0,
                     "Not a request: " + ipc_tools::message_type_as_string(type));
    }
    const std::string text = simple->text() != nullptr ? simple->text()->str() : std::string();
    switch (type) {
    case MessageType::LOAD_CONFIG:
        return load_config(text);
    case MessageType::LOAD_INDEX:
        return load_index(text);
    case MessageType::LOAD_BED:
        return load_bed_file(text);
    case MessageType::GET_CONFIGS:
        return get_configs();
    case MessageType::GET_INDICES:
        return get_indices();
    case MessageType::GET_BARCODE_KITS:
        return get_barcode_kits();
    case MessageType::GET_LAMP_KITS:
        return get_lamp_kits();
    case MessageType::GET_STATISTICS:
        return get_statistics();
    case MessageType::GET_STATE:
        return get_state();
    case MessageType::CONNECT:
        return connect(*simple);
    case MessageType::TERMINATE:
        return reply(MessageType::BAD_REQUEST, 0, "TERMINATE is not supported by this server");
    default:
        break;
    }

    // The rest name a client.
    if (data->connection_id() == nullptr || data->connection_id()->size() == 0) {
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
        clients.remove(data->connection_id()->string_view());
        return reply(MessageType::DISCONNECTED);
    case MessageType::GET_FIRST_CALLED_BLOCK:
        return first_called_block(*client, simple->value());
    case MessageType::GET_NEXT_CALLED_BLOCK:
        return next_called_block(*client, simple->value());
    default:
        return reply(MessageType::BAD_REQUEST, 0,
                     "Unsupported request: " + ipc_tools::message_type_as_string(type));
    }
}

bool BasecallServer::Impl::load_delay_over(MessageType type, const std::string& name)
{
    if (faults.load_delay.count() <= 0) {
        return true;
    }
    const auto key = std::make_pair(type, name);
    const auto now = Clock::now();
    const auto found = pending_loads.find(key);
    if (found == pending_loads.end()) {
        pending_loads.emplace(key, now);
        return false;
    }
    if (now - found->second < faults.load_delay) {
        return false;
    }
    pending_loads.erase(found);
    return true;
}

Message BasecallServer::Impl::load_config(const std::string& name)
{
    const auto* config = find_config(name);
    if (config == nullptr) {
        return reply(MessageType::REQUEST_FAILED, 0,
                     "Unknown basecalling configuration: '" + name + "'");
    }
    const auto& refused = faults.refused_configs;
    if (std::find(refused.begin(), refused.end(), name) != refused.end()) {
        return reply(MessageType::REQUEST_FAILED, 0,
                     "Basecalling configuration '" + name + "' is refused by this server");
    }
    if (std::find(loaded_configs.begin(), loaded_configs.end(), name) != loaded_configs.end()) {
        return reply(MessageType::SUCCESS);
    }
    if (!load_delay_over(MessageType::LOAD_CONFIG, name)) {
        return reply(MessageType::LOADING);
    }
    loaded_configs.push_back(name);
    return reply(MessageType::SUCCESS);
}

namespace {

// Loads a reference file once (answering LOADING while the load delay runs) and keeps it by path.
template <typename Data, typename Loader>
Message load_reference_file(const std::string& path, const char* missing_text,
                            std::map<std::string, std::shared_ptr<const Data>>& loaded,
                            bool delay_over, Loader load)
{
    if (path.empty()) {
        return reply(MessageType::REQUEST_FAILED, 0, missing_text);
    }
    if (loaded.count(path) > 0) {
        return reply(MessageType::SUCCESS);
    }
    if (!delay_over) {
        return reply(MessageType::LOADING);
    }
    auto data = std::make_shared<Data>();
    std::string error;
    if (!load(path, *data, error)) {
        return reply(MessageType::REQUEST_FAILED, 0, error);
    }
    loaded[path] = std::move(data);
    return reply(MessageType::SUCCESS);
}

}  // namespace

Message BasecallServer::Impl::load_index(const std::string& path)
{
    const bool delay_over = path.empty() || indices.count(path) > 0 ||
                            load_delay_over(MessageType::LOAD_INDEX, path);
    return load_reference_file(path, "No alignment index file given", indices, delay_over,
                               load_fasta);
}

Message BasecallServer::Impl::load_bed_file(const std::string& path)
{
    const bool delay_over = path.empty() || bed_files.count(path) > 0 ||
                            load_delay_over(MessageType::LOAD_BED, path);
    return load_reference_file(path, "No BED file given", bed_files, delay_over, load_bed);
}

Message BasecallServer::Impl::get_configs()
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::ConfigDetailsData>> entries;
    for (const auto& name : loaded_configs) {
        const auto& config = *find_config(name);
        entries.push_back(tamsu_ipc::CreateConfigDetailsDataDirect(
                builder, config.qscore_offset, config.qscore_scale, config.temp_weight,
                config.temp_bias, config.model_stride, config.label_length, config.name.c_str(),
                config.model_type.c_str()));
    }
    const auto list = tamsu_ipc::CreateConfigListData(builder, builder.CreateVector(entries));
    return finish_content(builder, tamsu_ipc::MessageContent::ConfigListData, list.Union());
}

Message BasecallServer::Impl::get_indices()
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::AlignmentIndexData>> entries;
    for (const auto& entry : indices) {
        entries.push_back(tamsu_ipc::CreateAlignmentIndexDataDirect(
                builder, entry.first.c_str(), entry.second->sam_header().c_str()));
    }
    const auto vector = builder.CreateVector(entries);
    tamsu_ipc::ConfigListDataBuilder list(builder);
    list.add_indices(vector);
    return finish_content(builder, tamsu_ipc::MessageContent::ConfigListData,
                          list.Finish().Union());
}

Message BasecallServer::Impl::get_barcode_kits()
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::BarcodeKitDefinition>> entries;
    for (const auto& kit : built_in_barcode_kits()) {
        entries.push_back(tamsu_ipc::CreateBarcodeKitDefinitionDirect(
                builder, kit.name.c_str(), kit.is_dual, kit.is_both_ends, kit.twelve_a,
                kit.first_index, kit.last_index, kit.first_inner_index, kit.last_inner_index,
                kit.name_format.c_str()));
    }
    const auto vector = builder.CreateVector(entries);
    tamsu_ipc::ConfigListDataBuilder list(builder);
    list.add_barcode_kits(vector);
    return finish_content(builder, tamsu_ipc::MessageContent::ConfigListData,
                          list.Finish().Union());
}

Message BasecallServer::Impl::get_lamp_kits()
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::LampKitDefinition>> entries;
    for (const auto& kit : built_in_lamp_kits()) {
        const auto targets = builder.CreateVectorOfStrings(kit.targets);
        entries.push_back(tamsu_ipc::CreateLampKitDefinition(
                builder, builder.CreateString(kit.name), kit.first_index, kit.last_index,
                builder.CreateString(kit.name_format), targets));
    }
    const auto vector = builder.CreateVector(entries);
    tamsu_ipc::ConfigListDataBuilder list(builder);
    list.add_lamp_kits(vector);
    return finish_content(builder, tamsu_ipc::MessageContent::ConfigListData,
                          list.Finish().Union());
}

Message BasecallServer::Impl::get_statistics()
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::ClientStatsData>> entries;
    clients.for_each([&](const ClientState& client) {
        entries.push_back(tamsu_ipc::CreateClientStatsData(
                builder, static_cast<std::uint32_t>(client.reads_in_flight()),
                client.reads_returned));
    });
    const auto stats = tamsu_ipc::CreateServerStats(
            builder, counters.reads_received, counters.reads_called, counters.samples_called,
            counters.bases_called, builder.CreateVector(entries));
    return finish_content(builder, tamsu_ipc::MessageContent::ServerStats, stats.Union());
}

Message BasecallServer::Impl::get_state()
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> json(buffer);
    const auto uptime =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count();
    json.StartObject();
    json.Key("ServerInformation");
    json.StartObject();
    json.Key("name");
    json.String("tamsu reference basecall server");
    json.Key("version");
    json.String(k_server_version);
    json.Key("protocol_version");
    json.String(ipc_tools::current_version_as_string().c_str());
    json.Key("endpoint");
    json.String(bound_endpoint.c_str());
    json.Key("uptime_seconds");
    json.Int64(uptime);
    json.Key("worker_threads");
    json.Uint64(workers.size());
    json.Key("connected_clients");
    json.Uint64(clients.size());
    json.EndObject();

    json.Key("Clients");
    json.StartArray();
    clients.for_each([&json](const ClientState& client) {
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
    });
    json.EndArray();

    auto write_names = [&json](const char* key, const auto& names) {
        json.Key(key);
        json.StartArray();
        for (const auto& name : names) {
            json.String(name.c_str());
        }
        json.EndArray();
    };
    write_names("LoadedConfigs", loaded_configs);
    std::vector<std::string> index_names;
    for (const auto& entry : indices) {
        index_names.push_back(entry.first);
    }
    write_names("LoadedIndices", index_names);
    std::vector<std::string> bed_names;
    for (const auto& entry : bed_files) {
        bed_names.push_back(entry.first);
    }
    write_names("LoadedBedFiles", bed_names);

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
    json.Uint64(requests_received);
    json.EndObject();
    json.EndObject();
    return reply(MessageType::RETURN_STATE, 0, buffer.GetString());
}

Message BasecallServer::Impl::connect(const tamsu_ipc::SimpleRequestData& request)
{
    if (clients.full()) {
        expire_idle_clients(Clock::now());  // room left by clients already gone
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
    std::pair<bool, ipc_tools::ConnectionInfo> parsed;
    try {
        parsed = ipc_tools::ConnectionInfo::parse(text, error);
    } catch (const std::out_of_range&) {
        parsed.first = false;
        error = "the options field has no timeout_interval";
    }
    if (!parsed.first) {
        return reply(MessageType::BAD_REQUEST, 0, "Invalid connection string: " + error);
    }
    ClientState client;
    client.info = std::move(parsed.second);
    const auto& info = client.info;
    client.priority = request.value();
    client.connection_string = text;
    client.owner_key = request_key;

    if (std::find(loaded_configs.begin(), loaded_configs.end(), info.m_config_name) ==
        loaded_configs.end()) {
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
    if (!info.m_alignment_index.empty()) {
        const auto found = indices.find(info.m_alignment_index);
        if (found == indices.end()) {
            return reply(MessageType::INVALID_INDEX);
        }
        if (found->second->sequences.empty()) {
            return reply(MessageType::INDEX_NO_SEQ);
        }
        client.call.index = found->second;
    }
    if (!info.m_bed_file.empty()) {
        const auto found = bed_files.find(info.m_bed_file);
        if (found == bed_files.end()) {
            return reply(MessageType::INVALID_BED);
        }
        client.call.bed = found->second;
    }
    // The nonce keeps ids of different server runs apart.
    client.id = "client-" + std::to_string(next_client_number++) + "-" + nonce;
    TAMSU_LOG(info, "client '" << info.m_client_name << "' connected as " << client.id);
    auto connected = reply(MessageType::CONNECTED, 0, client.id);
    clients.add(std::move(client), Clock::now());
    return connected;
}

Message BasecallServer::Impl::raw_block(const tamsu_ipc::MessageData& data, MessageType type,
                                        ClientState* sender)
{
    const auto* block = data.content_as_ReadBlockData();
    if (block == nullptr) {
        return reply(MessageType::BAD_REQUEST, 0, "Raw block without block data");
    }
    if (data.connection_id() == nullptr || data.connection_id()->size() == 0) {
        return reply(MessageType::BAD_REQUEST, 0, "Raw block without a connection id");
    }
    if (sender == nullptr) {
        return reply(MessageType::CLIENT_NOT_RECOGNISED);
    }
    auto& client = *sender;
    const auto tag = block->read_tag();
    const auto sample_count = block->raw_data() != nullptr ? block->raw_data()->size() : 0;

    if (type == MessageType::PASS_FIRST_RAW_BLOCK) {
        if (block->block_index() != 0 || block->num_blocks() == 0) {
            return reply(MessageType::BAD_REQUEST, 0,
                         "First raw block of read " + std::to_string(tag) +
                                 " must have block index 0 and at least one block");
        }
        // A repeated first block restarts the read.
        client.receiving.erase(tag);
        const auto limit = faults.max_reads_in_flight;
        if (limit > 0 && client.reads_in_flight() >= limit) {
            return reply(MessageType::NOT_READY);
        }
        IncomingRead read;
        read.read_tag = tag;
        read.read_id = block->read_id() != nullptr ? block->read_id()->str() : std::string();
        read.num_blocks = block->num_blocks();
        read.duration = block->duration();
        read.daq_offset = block->daq_offset();
        read.daq_scaling = block->daq_scaling();
        if (const auto* scaling = block->scaling_override()) {
            read.scaling_override = ScalingOverride{scaling->median(), scaling->med_abs_dev()};
        }
        // The duration comes from the peer: trust it only up to a sane size.
        if (!faults.zero_work) {
            read.samples.reserve(std::min<std::size_t>(
                    std::max<std::size_t>(read.duration, sample_count), k_max_reserved_samples));
        }
        client.receiving.emplace(tag, std::move(read));
    } else {
        const auto receiving = client.receiving.find(tag);
        if (receiving == client.receiving.end()) {
            return reply(MessageType::BAD_REQUEST, 0,
                         "Raw block for read " + std::to_string(tag) +
                                 " whose first block was not received");
        }
        if (block->block_index() != receiving->second.next_block) {
            return reply(MessageType::BAD_REQUEST, 0,
                         "Raw block " + std::to_string(block->block_index()) + " of read " +
                                 std::to_string(tag) + " out of order, expected " +
                                 std::to_string(receiving->second.next_block));
        }
    }

    auto& read = client.receiving.at(tag);
    // Without calling the signal is never looked at, so it is not kept either.
    if (sample_count > 0 && !faults.zero_work) {
        const auto* samples = block->raw_data()->data();
        read.samples.insert(read.samples.end(), samples, samples + sample_count);
    }
    read.block_samples.push_back(static_cast<std::uint32_t>(sample_count));
    ++read.next_block;
    if (read.next_block == read.num_blocks) {
        auto finished = std::move(read);
        client.receiving.erase(tag);
        finish_receiving(client, std::move(finished));
    }
    return reply(MessageType::RAW_BLOCK_ACCEPTED);
}

void BasecallServer::Impl::finish_receiving(ClientState& client, IncomingRead read)
{
    ++counters.reads_received;
    CallJob job;
    job.client_id = client.id;
    job.number = next_job_number++;
    job.call = client.call;
    job.received_at = Clock::now();
    job.call_time = faults.call_time;
    client.calling.emplace(job.number, read.read_id);
    job.read = std::move(read);
    if (faults.zero_work) {
        auto done = std::make_shared<CompletedRead>();
        done->result = ToyCaller::empty_result(job.read.sample_total(), *job.call.config);
        done->blocks.assign(job.read.block_samples.size(), BlockRange{});
        complete(job, std::move(done));
        return;
    }
    jobs.push_back(std::move(job));
    jobs_changed.notify_one();
}

void BasecallServer::Impl::complete(CallJob& job, std::shared_ptr<CompletedRead> done)
{
    const auto& read = job.read;
    done->read_tag = read.read_tag;
    done->read_id = read.read_id;
    done->duration = read.duration;
    done->daq_offset = read.daq_offset;
    done->daq_scaling = read.daq_scaling;
    done->ready_at = job.received_at + faults.call_delay;
    ++counters.reads_called;
    counters.samples_called += read.sample_total();
    counters.bases_called += done->result.sequence.size();

    auto* const owner = clients.find(job.client_id);
    if (owner == nullptr) {
        return;  // the client went away while its read was being called
    }
    auto& client = *owner;
    if (client.calling.erase(job.number) == 0) {
        return;  // reported lost while it was being called
    }
    if (faults.lose_reads) {
        client.lost.push_back(read.read_id);
        return;
    }
    client.completed.push_back(std::move(done));
}

void BasecallServer::Impl::work()
{
    vask::util::set_thread_name("toy_caller");
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
        jobs_changed.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (stopping) {
            return;
        }
        auto job = std::move(jobs.front());
        jobs.pop_front();
        lock.unlock();

        auto done = std::make_shared<CompletedRead>();
        try {
            const auto& read = job.read;
            done->result = ToyCaller::call(read.samples, read.daq_offset, read.daq_scaling,
                                           *job.call.config, CallFlags{}, read.scaling_override);
            done->blocks = ToyCaller::block_ranges(done->result, read.block_samples);
            if (!job.call.kits.empty()) {
                done->barcoding =
                        assign_barcode(job.call.kits, job.call.lamp, job.call.trim_barcodes,
                                       read.read_id, done->result.sequence);
            }
            if (job.call.index) {
                done->alignments = align_exact(*job.call.index, job.call.bed.get(), read.read_id,
                                               done->result.sequence, done->result.qstring,
                                               done->result.total_events);
            }
        } catch (const std::exception& error) {
            TAMSU_LOG(error, "calling read " << job.read.read_id << " failed: " << error.what());
            done->result = ToyCaller::empty_result(
                    static_cast<std::uint32_t>(job.read.samples.size()), *job.call.config);
            done->blocks.assign(job.read.block_samples.size(), BlockRange{});
        }

        std::this_thread::sleep_for(job.call_time);
        lock.lock();
        complete(job, std::move(done));
    }
}

Message BasecallServer::Impl::first_called_block(ClientState& client, std::uint32_t flags)
{
    if (faults.lose_reads) {
        for (const auto& read : client.completed) {
            client.lost.push_back(read->read_id);
        }
        client.completed.clear();
    }
    const auto now = Clock::now();
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < client.completed.size(); ++i) {
        if (client.completed[i]->ready_at <= now) {
            ready.push_back(i);
        }
    }
    if (ready.empty()) {
        const bool lost = !client.lost.empty();
        if (lost) {
            report_lost_reads(client);
        }
        return reply(MessageType::NONE_PENDING, lost ? 1 : 0);
    }
    const auto chosen = client.pick_newest ? ready.back() : ready.front();
    client.pick_newest = !client.pick_newest;
    auto read = client.completed[chosen];
    client.completed.erase(client.completed.begin() + static_cast<std::ptrdiff_t>(chosen));

    if ((flags & k_flag_state_data) != 0 && read->result.state_data.empty() &&
        read->result.state_size > 0) {
        ToyCaller::add_state_data(read->result);
    }
    flatbuffers::FlatBufferBuilder builder;
    build_called_block(builder, *read, 0, flags);
    if (read->blocks.size() > 1) {
        client.sending[read->read_tag] = OutgoingRead{read, 1, flags};
    } else {
        ++client.reads_returned;
    }
    return Message(builder);
}

// On a loss report the client drops every read it has fully submitted, so every such read the
// server still holds is lost with the dropped ones: otherwise it would be neither returned nor
// reported. Reads still arriving are not: the client keeps and resends those.
void BasecallServer::Impl::report_lost_reads(ClientState& client)
{
    auto lost = client.lost;
    for (const auto& entry : client.calling) {
        lost.push_back(entry.second);
    }
    for (const auto& read : client.completed) {
        lost.push_back(read->read_id);
    }
    for (const auto& entry : client.sending) {
        lost.push_back(entry.second.read->read_id);
    }
    lost_reads_log.report(client.id, lost);
    client.lost.clear();
    client.calling.clear();
    client.completed.clear();
    client.sending.clear();
}

Message BasecallServer::Impl::next_called_block(ClientState& client, std::uint32_t tag)
{
    const auto found = client.sending.find(tag);
    if (found == client.sending.end()) {
        return reply(MessageType::BAD_REQUEST, 0,
                     "No further blocks pending for read " + std::to_string(tag));
    }
    auto& outgoing = found->second;
    flatbuffers::FlatBufferBuilder builder;
    build_called_block(builder, *outgoing.read, outgoing.next_block, outgoing.flags);
    if (++outgoing.next_block >= outgoing.read->blocks.size()) {
        client.sending.erase(found);
        ++client.reads_returned;
    }
    return Message(builder);
}

BasecallServer::BasecallServer(ServerOptions options)
        : m_impl(std::make_unique<Impl>(std::move(options)))
{
}

BasecallServer::~BasecallServer() = default;

void BasecallServer::stop()
{
    m_impl->stop();
}

std::string BasecallServer::endpoint() const
{
    return m_impl->bound_endpoint;
}

FaultSettings BasecallServer::faults() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->faults;
}

void BasecallServer::set_faults(const FaultSettings& faults)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->faults = faults;
}

void BasecallServer::forget_all_clients()
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->clients.clear();
}

std::size_t BasecallServer::client_count() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->clients.size();
}

ServerCounters BasecallServer::counters() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->counters;
}

}  // namespace reference_server
