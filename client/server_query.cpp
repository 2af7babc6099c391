#include "client/server_query.h"

#include "basecall_service/server_proxy.h"
#include "client/get_result.h"
#include "client/security_conversion.h"
#include "common/tracing/trace.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <stdexcept>

namespace tamsu::server_query {

// Tag of this module's tracing domain.
struct Trace {};

namespace {

namespace proxy = basecall_service::server_proxy;
using Domain = common::tracing::TraceDomainHelper<Trace>;

// Callers see only the result code; the text is not kept.
Result run(const char* name, std::function<void()> operation)
{
    const auto trace = Domain::create_trace(name);
    return get_result(
            [&] {
                operation();
                return Result::success;
            },
            [](const std::string&) {});
}

std::string server_information_of(const std::string& state)
{
    rapidjson::Document document;
    document.Parse(state.c_str());
    if (document.HasParseError() || !document.IsObject() ||
        !document.HasMember("ServerInformation")) {
        throw std::runtime_error("ServerInformation field not found in internal state json.");
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document["ServerInformation"].Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

Result get_barcode_kits(std::vector<BarcodeKitDefinition>& kits, std::string address,
                        unsigned int timeout, const TransportSecurity& security)
{
    return run("get_barcode_kits", [&] {
        for (const auto& kit : proxy::get_barcode_kits(address, timeout, to_curve_keys(security))) {
            kits.emplace_back(kit.name, kit.first_index, kit.last_index, kit.first_inner_index,
                              kit.last_inner_index, kit.is_dual, kit.is_both_ends, kit.twelve_a,
                              kit.name_format);
        }
    });
}

Result get_lamp_kits(std::vector<LampKitDefinition>& kits, std::string address,
                     unsigned int timeout, const TransportSecurity& security)
{
    return run("get_lamp_kits", [&] {
        for (const auto& kit : proxy::get_lamp_kits(address, timeout, to_curve_keys(security))) {
            kits.emplace_back(kit.name, kit.first_index, kit.last_index, kit.name_format,
                              kit.targets);
        }
    });
}

Result get_server_statistics(ServerStatistics& stats, std::string address, unsigned int timeout,
                             const TransportSecurity& security)
{
    return run("get_server_statistics", [&] {
        const auto fetched =
                proxy::get_server_statistics(address, timeout, to_curve_keys(security));
        stats.stat_0 = fetched.stat_0;
        stats.stat_1 = fetched.stat_1;
        stats.stat_2 = fetched.stat_2;
        stats.stat_3 = fetched.stat_3;
        for (const auto& client : fetched.clients) {
            stats.clients.push_back({client.value_0, client.value_1});
        }
    });
}

Result get_server_information(std::string& info, std::string address, unsigned int timeout,
                              const TransportSecurity& security)
{
    return run("get_server_information", [&] {
        info = server_information_of(
                proxy::get_server_internal_state(address, timeout, to_curve_keys(security)));
    });
}

Result get_server_internal_state(std::string& state, std::string address, unsigned int timeout,
                                 const TransportSecurity& security)
{
    return run("get_server_internal_state", [&] {
        state = proxy::get_server_internal_state(address, timeout, to_curve_keys(security));
    });
}

// Without keys: a plain connection.

Result get_barcode_kits(std::vector<BarcodeKitDefinition>& kits, std::string address,
                        unsigned int timeout)
{
    return get_barcode_kits(kits, std::move(address), timeout, {});
}

Result get_lamp_kits(std::vector<LampKitDefinition>& kits, std::string address,
                     unsigned int timeout)
{
    return get_lamp_kits(kits, std::move(address), timeout, {});
}

Result get_server_statistics(ServerStatistics& stats, std::string address, unsigned int timeout)
{
    return get_server_statistics(stats, std::move(address), timeout, {});
}

Result get_server_information(std::string& info, std::string address, unsigned int timeout)
{
    return get_server_information(info, std::move(address), timeout, {});
}

Result get_server_internal_state(std::string& state, std::string address, unsigned int timeout)
{
    return get_server_internal_state(state, std::move(address), timeout, {});
}

}  // namespace tamsu::server_query
