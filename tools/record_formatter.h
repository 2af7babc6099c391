#pragma once

#include "tools/called_read.h"

#include <string>

namespace tamsu_cli {

// The text of the summary file for called reads. Every function returns whole lines, each
// ending in a line break.
class RecordFormatter {
public:
    static std::string summary_header();
    // One tab-separated row; the status column says "called" or "not_called", the last one
    // names the input file.
    static std::string summary_row(const CalledRead& read);
};

}  // namespace tamsu_cli
