#pragma once

#include "tools/raw_read.h"

#include <string>

namespace tamsu_cli {

// The text form of a raw read, one read per line, four tab-separated fields:
//   read id <TAB> DAQ offset <TAB> DAQ scaling <TAB> samples
// The id has no blanks or control characters; offset and scaling are finite decimal numbers;
// samples are comma-separated integers from -32768 to 32767, at least one. Blank lines and lines
// starting with '#' carry no read.
class RawReadFormat {
public:
    // Whether the line is blank or a comment.
    static bool is_skippable(const std::string& line);
    // Throws InputError saying what is wrong (without a line number).
    static RawRead parse(const std::string& line);
    // The line for the read, without a line break.
    static std::string format(const RawRead& read);
};

}  // namespace tamsu_cli
