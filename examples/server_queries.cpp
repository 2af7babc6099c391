// Asks a running basecall server about itself, without creating a client:
//   server_queries ADDRESS [TIMEOUT_MS]
// ADDRESS is a port, host:port or an ipc:// endpoint.
#include <client/server_query.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace query = tamsu::server_query;

namespace {

bool report(const char* what, tamsu::Result result)
{
    if (result != tamsu::Result::success) {
        std::cerr << what << " failed: " << result << '\n';
        return false;
    }
    return true;
}

void print_statistics(const query::ServerStatistics& stats)
{
    std::cout << "statistics: " << stats.stat_0 << ' ' << stats.stat_1 << ' ' << stats.stat_2 << ' '
              << stats.stat_3 << ", clients: " << stats.clients.size() << '\n';
}

void print_barcode_kits(const std::vector<query::BarcodeKitDefinition>& kits)
{
    std::cout << "barcode kits: " << kits.size() << '\n';
    for (const auto& kit : kits) {
        std::cout << "  " << kit.kit_name() << " [" << kit.first_index() << " .. "
                  << kit.last_index() << "]" << (kit.is_dual() ? " dual" : "")
                  << (kit.is_both_ends() ? " both-ends" : "") << ", first barcode: "
                  << kit.generate_barcode_name(kit.first_index(), kit.first_inner_index()) << '\n';
    }
}

void print_lamp_kits(const std::vector<query::LampKitDefinition>& kits)
{
    std::cout << "lamp kits: " << kits.size() << '\n';
    for (const auto& kit : kits) {
        std::cout << "  " << kit.kit_name() << " [" << kit.first_index() << " .. "
                  << kit.last_index() << "], targets: " << kit.targets().size()
                  << ", first barcode: " << kit.generate_barcode_name(kit.first_index()) << '\n';
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " ADDRESS [TIMEOUT_MS]\n";
        return 2;
    }
    const std::string address = argv[1];
    const unsigned int timeout = argc > 2 ? static_cast<unsigned int>(std::atoi(argv[2])) : 2000;

    int failures = 0;
    query::ServerStatistics stats;
    if (report("statistics", query::get_server_statistics(stats, address, timeout))) {
        print_statistics(stats);
    } else {
        ++failures;
    }
    std::vector<query::BarcodeKitDefinition> barcode_kits;
    if (report("barcode kits", query::get_barcode_kits(barcode_kits, address, timeout))) {
        print_barcode_kits(barcode_kits);
    } else {
        ++failures;
    }
    std::vector<query::LampKitDefinition> lamp_kits;
    if (report("lamp kits", query::get_lamp_kits(lamp_kits, address, timeout))) {
        print_lamp_kits(lamp_kits);
    } else {
        ++failures;
    }
    std::string information;
    if (report("server information",
               query::get_server_information(information, address, timeout))) {
        std::cout << "server information: " << information << '\n';
    } else {
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
