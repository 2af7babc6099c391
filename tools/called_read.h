#pragma once

#include <string>
#include <vector>

namespace tamsu {
class Read;
}

namespace tamsu_cli {

// What the outputs need from one read that came back from the server. Reads too short to call
// come back without a sequence: `called` is false and only the id and sample count are set.
struct CalledRead {
    std::string read_id;
    bool called = false;
    unsigned long samples = 0;
    std::string sequence;
    std::string qstring;
    float mean_qscore = 0.0f;
    std::string barcode_kit;
    std::string barcode_arrangement;
    std::string lamp_barcode;
    std::string lamp_target;
    bool aligned = false;
    std::string alignment_genome;
    long alignment_start = 0;  // zero-based
    long alignment_end = 0;    // exclusive
    std::string alignment_direction;
    std::vector<std::string> sam_records;  // one per alignment, without line breaks
    std::string source_file;               // the input the read came from, when known

    static CalledRead from_read(const tamsu::Read& read);
};

}  // namespace tamsu_cli
