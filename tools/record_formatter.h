#pragma once

#include "tools/called_read.h"

#include <string>

namespace tamsu_cli {

// The text of each output file for called reads. Every function returns whole lines, each
// ending in a line break.
class RecordFormatter {
public:
    // Four lines: "@<id>" with the main results as blank-separated key=value fields, the
    // sequence, "+", the qualities. Empty for a read that was not called.
    static std::string fastq(const CalledRead& read);

    static std::string summary_header();
    // One tab-separated row; the status column says "called" or "not_called", the last one
    // names the input file.
    static std::string summary_row(const CalledRead& read);

    // The read's SAM records; an unmapped record (flag 4) for a called read without
    // alignments; nothing for a read that was not called.
    static std::string sam_records(const CalledRead& read);
};

}  // namespace tamsu_cli
