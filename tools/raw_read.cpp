#include "tools/raw_read.h"

#include <algorithm>

namespace tamsu_cli {

std::string read_id_problem(std::string_view id)
{
    if (id.empty()) {
        return "the read id is empty";
    }
    const auto control = std::find_if(id.begin(), id.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    if (control != id.end()) {
        return "the read id holds a control character (code " +
               std::to_string(static_cast<unsigned char>(*control)) + ")";
    }
    return {};
}

}  // namespace tamsu_cli
