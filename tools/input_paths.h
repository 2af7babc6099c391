#pragma once

#include <string>
#include <vector>

namespace tamsu_cli {

// The files a basecall run reads, from the paths given on its command line.
class InputPaths {
public:
    // Each path as given ("-" for standard input), except that a directory stands for the
    // .blow5, .slow5 and .tsv files in it (with `recursive`, in its subdirectories too), sorted
    // by path. Throws InputError for a path that does not exist and for a directory without
    // such files.
    static std::vector<std::string> expand(const std::vector<std::string>& paths, bool recursive);
};

}  // namespace tamsu_cli
