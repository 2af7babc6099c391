#pragma once

#include <string>

namespace common {

// The absolute path of an existing file with every link, "." and ".." resolved; an empty path
// stays empty. Throws std::runtime_error (text beginning "Error while converting relative path")
// when the path cannot be resolved, for example because the file does not exist.
std::string make_canonical_path(const std::string& path);

}  // namespace common
