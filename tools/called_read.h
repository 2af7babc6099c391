#pragma once

#include <cstdint>
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
    std::string run_id;  // its read group: the run the input named, or else the input file
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
    // With a base-modification configuration: one probability per base per alphabet letter.
    std::string mod_alphabet;
    std::string mod_long_names;
    std::vector<std::uint8_t> mod_probabilities;
    // When moves were asked for: one move per model stride of signal, eight trace values each.
    unsigned long model_stride = 0;
    std::vector<std::uint8_t> moves;
    std::vector<std::uint8_t> trace;
    std::string source_file;  // the input the read came from, when known

    static CalledRead from_read(const tamsu::Read& read);
};

}  // namespace tamsu_cli
