#pragma once

#include "client/barcode_kit_definition.h"
#include "client/lamp_kit_definition.h"
#include "client/result.h"
#include "client/transport_security.h"
#include "vask/util/tamsu_export.h"

#include <cstdint>
#include <string>
#include <vector>

// Questions to a basecall server that need no client. Each call opens its own short connection,
// blocks until the answer or the time-out, and may run on any thread, alongside clients.
// `address` is a port, "host:port" or an "ipc://" endpoint; `timeout` is in milliseconds per
// wait, and an unanswered query gives up after four of them. Outputs change only on success.
// The overloads with `security` connect with CURVE (see TransportSecurity); a failed handshake
// (a key that does not fit the server) gives failed after those four waits.
namespace tamsu::server_query {

// Per-client figures; what they count is up to the server.
struct ClientStatistics {
    std::uint32_t value_0 = 0;
    std::uint32_t value_1 = 0;
};

// Server-wide counters (their meaning is up to the server) and one entry per client.
struct ServerStatistics {
    std::uint64_t stat_0 = 0;
    std::uint64_t stat_1 = 0;
    std::uint64_t stat_2 = 0;
    std::uint64_t stat_3 = 0;
    std::vector<ClientStatistics> clients;
};

// Appends the server's barcode kits, in its order, to `kits`.
TAMSU_EXPORT Result get_barcode_kits(std::vector<BarcodeKitDefinition>& kits, std::string address,
                                     unsigned int timeout);
TAMSU_EXPORT Result get_barcode_kits(std::vector<BarcodeKitDefinition>& kits, std::string address,
                                     unsigned int timeout, const TransportSecurity& security);

// Appends the server's LAMP kits, in its order, to `kits`.
TAMSU_EXPORT Result get_lamp_kits(std::vector<LampKitDefinition>& kits, std::string address,
                                  unsigned int timeout);
TAMSU_EXPORT Result get_lamp_kits(std::vector<LampKitDefinition>& kits, std::string address,
                                  unsigned int timeout, const TransportSecurity& security);

// Overwrites the four counters and appends the client entries.
TAMSU_EXPORT Result get_server_statistics(ServerStatistics& stats, std::string address,
                                          unsigned int timeout);
TAMSU_EXPORT Result get_server_statistics(ServerStatistics& stats, std::string address,
                                          unsigned int timeout, const TransportSecurity& security);

// The "ServerInformation" part of the server's state, as compact JSON.
TAMSU_EXPORT Result get_server_information(std::string& info, std::string address,
                                           unsigned int timeout);
TAMSU_EXPORT Result get_server_information(std::string& info, std::string address,
                                           unsigned int timeout, const TransportSecurity& security);

// The server's whole internal state (JSON text).
TAMSU_EXPORT Result get_server_internal_state(std::string& state, std::string address,
                                              unsigned int timeout);
TAMSU_EXPORT Result get_server_internal_state(std::string& state, std::string address,
                                              unsigned int timeout,
                                              const TransportSecurity& security);

}  // namespace tamsu::server_query
