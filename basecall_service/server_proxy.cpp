#include "basecall_service/server_proxy.h"

#include "common/tracing/trace.h"
#include "ipc_tools/request_broker.h"

namespace basecall_service::server_proxy {

// Tag of this module's tracing domain.
struct Trace {};

namespace {

using Domain = common::tracing::TraceDomainHelper<Trace>;

// Sends one request of `type` on a fresh connection; returns the reply when it has the
// expected type and throws InvalidResponse with `failure_prefix` otherwise.
ipc_tools::Message query(const std::string& address, unsigned int timeout,
                         const ipc_tools::CurveKeys& keys, ipc_tools::MessageType type,
                         ipc_tools::MessageType expected, const std::string& trace_name,
                         const char* failure_prefix)
{
    ipc_tools::RequestBroker broker;
    broker.prepare_connection(address, timeout, keys);
    ipc_tools::Message request(type, "", 0, "");
    ipc_tools::Message reply;
    broker.send_request(request, reply);
    if (reply.get_type() != expected) {
        const auto text = failure_prefix + ipc_tools::message_type_as_string(reply.get_type());
        Domain::write_trace(trace_name, text);
        throw ipc_tools::InvalidResponse(text);
    }
    return reply;
}

std::string text_or_empty(const flatbuffers::String* text)
{
    return text ? text->str() : std::string();
}

const tamsu_ipc::ConfigListData* config_list(ipc_tools::Message& reply)
{
    return reply.empty() ? nullptr : reply.get_message_data()->content_as_ConfigListData();
}

}  // namespace

ServerStats get_server_statistics(std::string address, unsigned int timeout,
                                  const ipc_tools::CurveKeys& keys)
{
    const auto trace = Domain::create_trace("get_server_statistics");
    auto reply = query(address, timeout, keys, ipc_tools::MessageType::GET_STATISTICS,
                       ipc_tools::MessageType::RETURN_STATISTICS, "get_server_statistics",
                       "Could not retrieve statistics from server, invalid reply: ");
    const auto* stats = reply.get_message_data()->content_as_ServerStats();
    return stats ? get_stats_from_message(*stats) : ServerStats();
}

std::vector<BarcodeKit> get_barcode_kits(std::string address, unsigned int timeout,
                                         const ipc_tools::CurveKeys& keys)
{
    const auto trace = Domain::create_trace("get_barcode_kits");
    auto reply = query(address, timeout, keys, ipc_tools::MessageType::GET_BARCODE_KITS,
                       ipc_tools::MessageType::RETURN_CONFIGS, "get_barcode_kits",
                       "Could not retrieve barcode kits from server, invalid reply: ");
    return extract_barcoding_arrangements(reply);
}

std::vector<LampKit> get_lamp_kits(std::string address, unsigned int timeout,
                                   const ipc_tools::CurveKeys& keys)
{
    const auto trace = Domain::create_trace("get_lamp_kits");
    auto reply = query(address, timeout, keys, ipc_tools::MessageType::GET_LAMP_KITS,
                       ipc_tools::MessageType::RETURN_CONFIGS, "get_lamp_kits",
                       "Could not retrieve lamp kits from server, invalid reply: ");
    return extract_lamp_arrangements(reply);
}

std::string get_server_internal_state(std::string address, unsigned int timeout,
                                      const ipc_tools::CurveKeys& keys)
{
    const auto trace = Domain::create_trace("get_server_internal_state");
    auto reply = query(address, timeout, keys, ipc_tools::MessageType::GET_STATE,
                       ipc_tools::MessageType::RETURN_STATE, "get_server_internal_state",
                       "Could not retrieve state from server, invalid reply: ");
    const auto* state = reply.get_message_data()->content_as_SimpleReplyData();
    return state ? text_or_empty(state->text()) : std::string();
}

ServerStats get_stats_from_message(const tamsu_ipc::ServerStats& stats)
{
    const auto trace = Domain::create_trace("get_stats_from_message");
    ServerStats result{stats.stat_0(), stats.stat_1(), stats.stat_2(), stats.stat_3(), {}};
    if (const auto* clients = stats.clients()) {
        for (const auto* client : *clients) {
            result.clients.push_back(ClientStats{client->value_0(), client->value_1()});
        }
    }
    return result;
}

BarcodeKit create_barcode_kit(const tamsu_ipc::BarcodeKitDefinition& kit)
{
    const auto trace = Domain::create_trace("create_barcode_kit");
    return BarcodeKit{
            text_or_empty(kit.name()), kit.first_index(),      kit.last_index(),
            kit.first_inner_index(),   kit.last_inner_index(), kit.is_dual(),
            kit.is_both_ends(),        kit.twelve_a(),         text_or_empty(kit.name_format())};
}

LampKit create_lamp_kit(const tamsu_ipc::LampKitDefinition& kit)
{
    const auto trace = Domain::create_trace("create_lamp_kit");
    LampKit result{text_or_empty(kit.name()),
                   kit.first_index(),
                   kit.last_index(),
                   text_or_empty(kit.name_format()),
                   {}};
    if (const auto* targets = kit.targets()) {
        for (const auto* target : *targets) {
            result.targets.push_back(text_or_empty(target));
        }
    }
    return result;
}

std::vector<BarcodeKit> extract_barcoding_arrangements(ipc_tools::Message& reply)
{
    const auto trace = Domain::create_trace("extract_barcoding_arrangements");
    std::vector<BarcodeKit> kits;
    const auto* list = config_list(reply);
    if (list && list->barcode_kits()) {
        for (const auto* kit : *list->barcode_kits()) {
            kits.push_back(create_barcode_kit(*kit));
        }
    }
    return kits;
}

std::vector<LampKit> extract_lamp_arrangements(ipc_tools::Message& reply)
{
    const auto trace = Domain::create_trace("extract_lamp_arrangements");
    std::vector<LampKit> kits;
    const auto* list = config_list(reply);
    if (list && list->lamp_kits()) {
        for (const auto* kit : *list->lamp_kits()) {
            kits.push_back(create_lamp_kit(*kit));
        }
    }
    return kits;
}

}  // namespace basecall_service::server_proxy
