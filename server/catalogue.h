#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reference_server {

// What a configuration's called reads carry besides sequence and qualities.
enum class TraceKind {
    flipflop,   // moves and eight trace values per event
    runlength,  // one run per base with five value vectors, no moves or trace
};

// One basecalling configuration the server can load. Everything the toy caller needs is here.
struct ConfigDefinition {
    std::string name;
    std::string model_type;
    std::string basecall_type;
    TraceKind trace_kind = TraceKind::flipflop;
    std::uint32_t model_stride = 1;
    std::uint32_t label_length = 1;
    std::uint32_t state_size = 0;
    float qscore_offset = 0.0f;
    float qscore_scale = 1.0f;
    float temp_weight = 1.0f;
    float temp_bias = 0.0f;
    // Base modification alphabet and names; empty for configurations without modified bases.
    std::string mod_alphabet;
    std::string mod_long_names;
};

struct BarcodeKit {
    std::string name;
    bool is_dual = false;
    bool is_both_ends = false;
    bool twelve_a = false;
    int first_index = 0;
    int last_index = 0;
    int first_inner_index = 0;
    int last_inner_index = 0;
    std::string name_format;
};

struct LampKit {
    std::string name;
    int first_index = 0;
    int last_index = 0;
    std::string name_format;
    std::vector<std::string> targets;
};

// The built-in catalogue, in the order the server lists it.
const std::vector<ConfigDefinition>& built_in_configs();
const std::vector<BarcodeKit>& built_in_barcode_kits();
const std::vector<LampKit>& built_in_lamp_kits();

// Lookups by exact name; null when there is no such entry.
const ConfigDefinition* find_config(const std::string& name);
const BarcodeKit* find_barcode_kit(const std::string& name);
const LampKit* find_lamp_kit(const std::string& name);

// The name of barcode `outer` (and `inner` for a dual kit) of `kit`, named as hosts name it
// (common/barcode_naming.h); throws std::invalid_argument for an unusable name format.
std::string barcode_name(const BarcodeKit& kit, int outer, int inner);

}  // namespace reference_server
