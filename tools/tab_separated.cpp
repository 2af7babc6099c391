#include "tools/tab_separated.h"

namespace tamsu_cli {

std::vector<std::string_view> split_fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (true) {
        const auto tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(tab + 1);
    }
}

}  // namespace tamsu_cli
