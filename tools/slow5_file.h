#pragma once

#include <memory>
#include <string>

struct slow5_file;

namespace tamsu_cli {

struct CloseSlow5File {
    void operator()(slow5_file* file) const;
};
using Slow5File = std::unique_ptr<slow5_file, CloseSlow5File>;

// Opens a SLOW5/BLOW5 file for reading and parses its header, with the library's own messages
// off. Throws InputError naming the file when it is not one.
Slow5File open_slow5_file(const std::string& path);

}  // namespace tamsu_cli
