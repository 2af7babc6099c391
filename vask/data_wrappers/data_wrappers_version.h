#pragma once

namespace vask::data_wrappers {

// Version of the read data containers (maps, tables, views) as hosts see them; changes when
// their layout or behaviour changes incompatibly.
constexpr int DATA_WRAPPERS_VERSION_MAJOR = 1;
constexpr int DATA_WRAPPERS_VERSION_MINOR = 0;
constexpr int DATA_WRAPPERS_VERSION_PATCH = 0;

}  // namespace vask::data_wrappers
