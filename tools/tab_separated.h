#pragma once

#include <string_view>
#include <vector>

namespace tamsu_cli {

// The tab-separated fields of `line`, as views into it (a field may run to megabytes).
std::vector<std::string_view> split_fields(std::string_view line);

}  // namespace tamsu_cli
