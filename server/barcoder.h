#pragma once

#include "server/catalogue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace reference_server {

struct BarcodeHit {
    std::string id;
    std::string refseq;
    std::string foundseq;
    float score = 0.0f;
    std::int32_t index = 0;
};

struct MidBarcodeHit {
    std::string id;
    float score = 0.0f;
    std::int32_t end_index = 0;
};

struct BarcodeAssignment {
    std::int32_t trim_front = 0;
    std::int32_t trim_rear = 0;
    std::string full_arrangement;
    std::string arrangement;
    std::string kit;
    std::string variant;
    float score = 0.0f;
    BarcodeHit front;
    BarcodeHit rear;
    MidBarcodeHit mid_front;
    MidBarcodeHit mid_rear;
    std::string front_id_inner;
    float front_score_inner = 0.0f;
    std::string rear_id_inner;
    float rear_score_inner = 0.0f;
    std::string lamp_barcode_id;
    float lamp_barcode_score = 0.0f;
    std::string lamp_target_id;
    float lamp_target_score = 0.0f;
    float adapter_score = 0.0f;
    std::int32_t adapter_end_index = 0;
};

// 32-bit FNV-1a of `text`; everything the barcoder decides derives from it.
std::uint32_t fnv1a(const std::string& text);

// Deterministic barcoding of one read. With h = fnv1a(read_id): the kit is kits[h % kits.size()],
// the barcode first_index + h % (last_index - first_index + 1) and, for a dual kit, the inner
// barcode first_inner_index + (h >> 8) % (inner range). The arrangement is the barcode's name;
// full_arrangement is kit + "_" + arrangement. Scores are 60 + h % 40 (front) and 55 + (h >> 4)
// % 40 (rear); found sequences are the read's first and last up to 24 bases, and trims their
// lengths when `trim` is set. A lamp kit, when given, adds barcode first + (h >> 12) % range and
// target targets[(h >> 16) % targets]. `kits` must not be empty.
BarcodeAssignment assign_barcode(const std::vector<const BarcodeKit*>& kits, const LampKit* lamp,
                                 bool trim, const std::string& read_id,
                                 const std::string& sequence);

}  // namespace reference_server
