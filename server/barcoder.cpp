#include "server/barcoder.h"

#include "common/barcode_naming.h"

#include <algorithm>

namespace reference_server {

std::uint32_t fnv1a(const std::string& text)
{
    std::uint32_t hash = 2166136261u;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

namespace {

using common::barcode_naming::generate_normalised_id;

constexpr std::size_t k_barcode_length = 24;

// A fixed pseudo-random reference sequence per barcode number.
std::string barcode_sequence(int barcode)
{
    std::string sequence;
    auto state = static_cast<std::uint32_t>(barcode) * 747796405u + 2891336453u;
    for (std::size_t i = 0; i < k_barcode_length; ++i) {
        state = state * 1664525u + 1013904223u;
        sequence.push_back("ACGT"[(state >> 24) % 4]);
    }
    return sequence;
}

int pick(std::uint32_t value, int first, int last)
{
    const auto range = static_cast<std::uint32_t>(std::max(last - first + 1, 1));
    return first + static_cast<int>(value % range);
}

}  // namespace

BarcodeAssignment assign_barcode(const std::vector<const BarcodeKit*>& kits, const LampKit* lamp,
                                 bool trim, const std::string& read_id, const std::string& sequence)
{
    const auto hash = fnv1a(read_id);
    const BarcodeKit& kit = *kits[hash % kits.size()];
    const int outer = pick(hash, kit.first_index, kit.last_index);
    const int inner =
            kit.is_dual ? pick(hash >> 8, kit.first_inner_index, kit.last_inner_index) : 0;
    const auto length = static_cast<std::int32_t>(sequence.size());
    const auto end_length = std::min(k_barcode_length, sequence.size());

    BarcodeAssignment result;
    result.kit = kit.name;
    result.arrangement = barcode_name(kit, outer, inner);
    result.full_arrangement = kit.name + "_" + result.arrangement;
    result.variant = kit.is_both_ends ? "both_ends" : "front";
    result.front.id = generate_normalised_id(kit.name_format, outer, kit.twelve_a) + "_FWD";
    result.front.refseq = barcode_sequence(outer);
    result.front.foundseq = sequence.substr(0, end_length);
    result.front.score = 60.0f + static_cast<float>(hash % 40);
    result.front.index = 0;
    result.rear.id = generate_normalised_id(kit.name_format, outer, kit.twelve_a) + "_REV";
    result.rear.refseq = barcode_sequence(outer);
    result.rear.foundseq = sequence.substr(sequence.size() - end_length);
    result.rear.score = 55.0f + static_cast<float>((hash >> 4) % 40);
    result.rear.index = length;
    result.score = std::max(result.front.score, result.rear.score);
    result.mid_front.id = result.front.id;
    result.mid_front.score = static_cast<float>((hash >> 20) % 30);
    result.mid_front.end_index = length / 2;
    result.mid_rear.id = result.rear.id;
    result.mid_rear.score = static_cast<float>((hash >> 24) % 30);
    result.mid_rear.end_index = length / 2;
    if (kit.is_dual) {
        result.front_id_inner = generate_normalised_id(kit.name_format, inner, kit.twelve_a);
        result.front_score_inner = 50.0f + static_cast<float>((hash >> 8) % 40);
        result.rear_id_inner = result.front_id_inner;
        result.rear_score_inner = 45.0f + static_cast<float>((hash >> 12) % 40);
    }
    if (lamp != nullptr) {
        const int lamp_barcode = pick(hash >> 12, lamp->first_index, lamp->last_index);
        result.lamp_barcode_id = generate_normalised_id(lamp->name_format, lamp_barcode, false);
        result.lamp_barcode_score = 70.0f + static_cast<float>((hash >> 14) % 30);
        if (!lamp->targets.empty()) {
            result.lamp_target_id = lamp->targets[(hash >> 16) % lamp->targets.size()];
            result.lamp_target_score = 80.0f + static_cast<float>((hash >> 18) % 20);
        }
    }
    result.adapter_score = 30.0f + static_cast<float>((hash >> 6) % 50);
    result.adapter_end_index = static_cast<std::int32_t>(end_length);
    if (trim) {
        result.trim_front = static_cast<std::int32_t>(end_length);
        result.trim_rear = kit.is_both_ends ? static_cast<std::int32_t>(end_length) : 0;
    }
    return result;
}

}  // namespace reference_server
