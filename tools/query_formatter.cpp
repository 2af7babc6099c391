#include "tools/query_formatter.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

namespace tamsu_cli {

namespace {

std::string range(int first, int last)
{
    return std::to_string(first) + "-" + std::to_string(last);
}

// A kit's first barcode name, as an example of its naming; a kit whose range does not hold
// its first index gives nothing.
template <typename Kit, typename... Inner>
std::string example_name(const Kit& kit, Inner... inner)
{
    try {
        return kit.generate_barcode_name(kit.first_index(), inner...);
    } catch (const std::exception&) {
        return "-";
    }
}

}  // namespace

std::string QueryFormatter::statistics(const tamsu::server_query::ServerStatistics& stats)
{
    std::string text = "Server counters (their meaning is up to the server):\n";
    const unsigned long long counters[] = {stats.stat_0, stats.stat_1, stats.stat_2, stats.stat_3};
    for (int i = 0; i < 4; ++i) {
        text += "  stat_" + std::to_string(i) + "  " + std::to_string(counters[i]) + "\n";
    }
    text += "Clients: " + std::to_string(stats.clients.size()) + "\n";
    for (std::size_t i = 0; i < stats.clients.size(); ++i) {
        text += "  client " + std::to_string(i + 1) +
                "  value_0=" + std::to_string(stats.clients[i].value_0) +
                "  value_1=" + std::to_string(stats.clients[i].value_1) + "\n";
    }
    return text;
}

std::string
QueryFormatter::barcode_kits(const std::vector<tamsu::server_query::BarcodeKitDefinition>& kits)
{
    std::string text = "Barcode kits: " + std::to_string(kits.size()) + "\n";
    for (const auto& kit : kits) {
        text += "  " + kit.kit_name() + "  barcodes " + range(kit.first_index(), kit.last_index());
        if (kit.is_dual()) {
            text += ", inner " + range(kit.first_inner_index(), kit.last_inner_index()) + ", dual";
        }
        if (kit.is_both_ends()) {
            text += ", both ends";
        }
        text += ", first name " + example_name(kit, kit.first_inner_index()) + "\n";
    }
    return text;
}

std::string
QueryFormatter::lamp_kits(const std::vector<tamsu::server_query::LampKitDefinition>& kits)
{
    std::string text = "LAMP kits: " + std::to_string(kits.size()) + "\n";
    for (const auto& kit : kits) {
        text += "  " + kit.kit_name() + "  barcodes " + range(kit.first_index(), kit.last_index()) +
                ", first name " + example_name(kit) + ", targets";
        for (const auto& target : kit.targets()) {
            text += " " + target;
        }
        text += kit.targets().empty() ? " none\n" : "\n";
    }
    return text;
}

std::string QueryFormatter::json(const std::string& text)
{
    rapidjson::Document document;
    document.Parse(text.c_str());
    if (document.HasParseError()) {
        return text.empty() || text.back() == '\n' ? text : text + "\n";
    }
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    document.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

}  // namespace tamsu_cli
