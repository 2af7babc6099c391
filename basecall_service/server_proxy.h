#pragma once

#include "ipc_tools/curve_keys.h"
#include "ipc_tools/message.h"

#include <cstdint>
#include <string>
#include <vector>

// One-shot questions to a server without a client connection. Each call opens its own
// connection (with CURVE when `keys` are set) and closes it again; calls may run concurrently on
// any thread. Failures are the request broker's exceptions, or ipc_tools::InvalidResponse for a
// reply of the wrong type.
namespace basecall_service::server_proxy {

struct ClientStats {
    std::uint32_t value_0 = 0;
    std::uint32_t value_1 = 0;
};

struct ServerStats {
    std::uint64_t stat_0 = 0;
    std::uint64_t stat_1 = 0;
    std::uint64_t stat_2 = 0;
    std::uint64_t stat_3 = 0;
    std::vector<ClientStats> clients;
};

struct BarcodeKit {
    std::string name;
    std::int32_t first_index = 0;
    std::int32_t last_index = 0;
    std::int32_t first_inner_index = 0;
    std::int32_t last_inner_index = 0;
    bool is_dual = false;
    bool is_both_ends = false;
    bool twelve_a = false;
    std::string name_format;
};

struct LampKit {
    std::string name;
    std::int32_t first_index = 0;
    std::int32_t last_index = 0;
    std::string name_format;
    std::vector<std::string> targets;
};

// `timeout` is the time-out in milliseconds of each of the broker's four waits.
ServerStats get_server_statistics(std::string address, unsigned int timeout,
                                  const ipc_tools::CurveKeys& keys = {});
std::vector<BarcodeKit> get_barcode_kits(std::string address, unsigned int timeout,
                                         const ipc_tools::CurveKeys& keys = {});
std::vector<LampKit> get_lamp_kits(std::string address, unsigned int timeout,
                                   const ipc_tools::CurveKeys& keys = {});
// The server's internal state as JSON text.
std::string get_server_internal_state(std::string address, unsigned int timeout,
                                      const ipc_tools::CurveKeys& keys = {});

ServerStats get_stats_from_message(const tamsu_ipc::ServerStats& stats);
BarcodeKit create_barcode_kit(const tamsu_ipc::BarcodeKitDefinition& kit);
LampKit create_lamp_kit(const tamsu_ipc::LampKitDefinition& kit);
std::vector<BarcodeKit> extract_barcoding_arrangements(ipc_tools::Message& reply);
std::vector<LampKit> extract_lamp_arrangements(ipc_tools::Message& reply);

}  // namespace basecall_service::server_proxy
