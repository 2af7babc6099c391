#include "tools/input_paths.h"

#include "tools/input_error.h"

#include <algorithm>
#include <filesystem>

namespace tamsu_cli {

namespace fs = std::filesystem;

namespace {

bool is_input_file(const fs::directory_entry& entry)
{
    const auto extension = entry.path().extension();
    return entry.is_regular_file() &&
           (extension == ".blow5" || extension == ".slow5" || extension == ".tsv");
}

template <typename Iterator>
std::vector<std::string> input_files(const std::string& directory)
{
    std::vector<std::string> files;
    for (const auto& entry : Iterator(directory, fs::directory_options::follow_directory_symlink)) {
        if (is_input_file(entry)) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::vector<std::string> InputPaths::expand(const std::vector<std::string>& paths, bool recursive)
{
    std::vector<std::string> files;
    for (const auto& path : paths) {
        if (path == "-") {
            files.push_back(path);
            continue;
        }
        if (!fs::exists(path)) {
            throw InputError("cannot read " + path + ": no such file or directory");
        }
        if (!fs::is_directory(path)) {
            files.push_back(path);
            continue;
        }
        const auto found = recursive ? input_files<fs::recursive_directory_iterator>(path)
                                     : input_files<fs::directory_iterator>(path);
        if (found.empty()) {
            throw InputError("the directory " + path + " holds no .blow5, .slow5 or .tsv files" +
                             (recursive ? "" : " (--recursive also searches its subdirectories)"));
        }
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

}  // namespace tamsu_cli
