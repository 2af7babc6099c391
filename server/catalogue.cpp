#include "server/catalogue.h"

#include "common/barcode_naming.h"

#include <algorithm>

namespace reference_server {

using common::barcode_naming::generate_dual_normalised_id;
using common::barcode_naming::generate_normalised_id;

const std::vector<ConfigDefinition>& built_in_configs()
{
    static const std::vector<ConfigDefinition> configs = [] {
        std::vector<ConfigDefinition> result;

        ConfigDefinition flipflop;
        flipflop.name = "toy_flipflop_fast";
        flipflop.model_type = "flipflop";
        flipflop.basecall_type = "toy_flipflop";
        flipflop.trace_kind = TraceKind::flipflop;
        flipflop.model_stride = 5;
        flipflop.label_length = 1;
        flipflop.state_size = 40;
        flipflop.qscore_offset = 0.5f;
        flipflop.qscore_scale = 0.9f;
        flipflop.temp_weight = 1.0f;
        flipflop.temp_bias = 0.0f;
        result.push_back(flipflop);

        ConfigDefinition runlength;
        runlength.name = "toy_runlength";
        runlength.model_type = "runlength";
        runlength.basecall_type = "toy_runlength";
        runlength.trace_kind = TraceKind::runlength;
        runlength.model_stride = 10;
        runlength.label_length = 1;
        runlength.state_size = 16;
        runlength.qscore_offset = -0.25f;
        runlength.qscore_scale = 1.1f;
        runlength.temp_weight = 0.8f;
        runlength.temp_bias = 0.1f;
        result.push_back(runlength);

        ConfigDefinition modbase;
        modbase.name = "toy_modbase";
        modbase.model_type = "flipflop";
        modbase.basecall_type = "toy_modbase";
        modbase.trace_kind = TraceKind::flipflop;
        modbase.model_stride = 6;
        modbase.label_length = 1;
        modbase.state_size = 24;
        modbase.qscore_offset = 0.0f;
        modbase.qscore_scale = 1.0f;
        modbase.temp_weight = 1.0f;
        modbase.temp_bias = 0.0f;
        modbase.mod_alphabet = "ACGTm";
        modbase.mod_long_names = "5mC";
        result.push_back(modbase);
        return result;
    }();
    return configs;
}

const std::vector<BarcodeKit>& built_in_barcode_kits()
{
    static const std::vector<BarcodeKit> kits = [] {
        std::vector<BarcodeKit> result;
        BarcodeKit single;
        single.name = "TOY-BC12";
        single.twelve_a = true;
        single.first_index = 1;
        single.last_index = 12;
        single.name_format = "barcode%02i";
        result.push_back(single);

        BarcodeKit both_ends;
        both_ends.name = "TOY-BC24-BOTH";
        both_ends.is_both_ends = true;
        both_ends.first_index = 1;
        both_ends.last_index = 24;
        both_ends.name_format = "barcode%02i";
        result.push_back(both_ends);

        BarcodeKit dual;
        dual.name = "TOY-DUAL";
        dual.is_dual = true;
        dual.is_both_ends = true;
        dual.first_index = 1;
        dual.last_index = 8;
        dual.first_inner_index = 1;
        dual.last_inner_index = 12;
        dual.name_format = "BC%02d";
        result.push_back(dual);
        return result;
    }();
    return kits;
}

const std::vector<LampKit>& built_in_lamp_kits()
{
    static const std::vector<LampKit> kits = [] {
        std::vector<LampKit> result;
        result.push_back({"TOY-LAMP", 1, 96, "FIP%02i", {"target_a", "target_b", "target_c"}});
        result.push_back({"TOY-LAMP-MINI", 1, 8, "lamp%02i", {"control"}});
        return result;
    }();
    return kits;
}

namespace {

template <typename Entry>
const Entry* find_by_name(const std::vector<Entry>& entries, const std::string& name)
{
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const Entry& entry) { return entry.name == name; });
    return found == entries.end() ? nullptr : &*found;
}

}  // namespace

const ConfigDefinition* find_config(const std::string& name)
{
    return find_by_name(built_in_configs(), name);
}

const BarcodeKit* find_barcode_kit(const std::string& name)
{
    return find_by_name(built_in_barcode_kits(), name);
}

const LampKit* find_lamp_kit(const std::string& name)
{
    return find_by_name(built_in_lamp_kits(), name);
}

std::string barcode_name(const BarcodeKit& kit, int outer, int inner)
{
    const auto outer_name = generate_normalised_id(kit.name_format, outer, kit.twelve_a);
    if (!kit.is_dual) {
        return outer_name;
    }
    return generate_dual_normalised_id(
            outer_name, generate_normalised_id(kit.name_format, inner, kit.twelve_a));
}

}  // namespace reference_server
