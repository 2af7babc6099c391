#include "common/make_canonical_path.h"

#include <boost/filesystem/operations.hpp>

#include <stdexcept>

namespace common {

std::string make_canonical_path(const std::string& path)
{
    if (path.empty()) {
        return path;
    }
    try {
        return boost::filesystem::canonical(path).string();
    } catch (const boost::filesystem::filesystem_error& error) {
        throw std::runtime_error("Error while converting relative path '" + path +
                                 "' to canonical path: " + error.what());
    }
}

}  // namespace common
