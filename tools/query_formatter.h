#pragma once

#include "client/server_query.h"

#include <string>
#include <vector>

namespace tamsu_cli {

// Readable text for the answers of the one-shot server queries; every function returns whole
// lines.
class QueryFormatter {
public:
    static std::string statistics(const tamsu::server_query::ServerStatistics& stats);
    static std::string
    barcode_kits(const std::vector<tamsu::server_query::BarcodeKitDefinition>& kits);
    static std::string lamp_kits(const std::vector<tamsu::server_query::LampKitDefinition>& kits);
    // JSON indented for reading; text that is not JSON comes back as it was.
    static std::string json(const std::string& text);
};

}  // namespace tamsu_cli
