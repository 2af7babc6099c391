#pragma once

#include <boost/optional.hpp>

#include <cstdint>
#include <string>

namespace interfaces {

// Key texts of the barcoding options in a connection string.
constexpr const char* PARAM_BARCODE_REQUIRE_BOTH_ENDS = "require_barcodes_both_ends";
constexpr const char* PARAM_BARCODE_MIN_SCORE = "min_score";
constexpr const char* PARAM_BARCODE_MIN_SCORE_REAR_OVERRIDE = "min_score_rear_override";
constexpr const char* PARAM_BARCODE_MIN_SCORE_MASK = "min_score_mask";
constexpr const char* PARAM_BARCODE_DETECT_MID_STRAND_BARCODES = "detect_mid_strand_barcodes";
constexpr const char* PARAM_BARCODE_MIN_SCORE_MID = "min_score_mid_barcodes";
constexpr const char* PARAM_BARCODE_TRIMMING = "trim_barcodes";
constexpr const char* PARAM_BARCODE_LAMP_KIT = "lamp_kit";
constexpr const char* PARAM_BARCODE_MIN_SCORE_LAMP = "min_score_lamp";
constexpr const char* PARAM_BARCODE_MIN_SCORE_LAMP_MASK = "min_score_lamp_mask";
constexpr const char* PARAM_BARCODE_MIN_SCORE_LAMP_TARGET = "min_score_lamp_target";
constexpr const char* PARAM_BARCODE_ADDITIONAL_CONTEXT_BASES = "additional_context_bases";
constexpr const char* PARAM_BARCODE_MIN_LENGTH_LAMP_CONTEXT = "min_length_lamp_context";
constexpr const char* PARAM_BARCODE_MIN_LENGTH_LAMP_TARGET = "min_length_lamp_target";
constexpr const char* PARAM_BARCODE_DETECT_MID_STRAND_ADAPTER = "detect_mid_strand_adapter";

// Barcoding settings a client asks the server for; each is absent unless set. A plain value
// type: copy it freely.
struct BarcodingOptions {
    boost::optional<bool> m_require_both_ends;
    boost::optional<float> m_min_score;
    boost::optional<float> m_min_score_rear_override;
    boost::optional<float> m_min_score_mask;
    boost::optional<bool> m_detect_mid_strand_barcodes;
    boost::optional<float> m_min_score_mid_barcodes;
    boost::optional<bool> m_trim_barcodes;
    boost::optional<std::string> m_lamp_kit;
    boost::optional<float> m_min_score_lamp;
    boost::optional<float> m_min_score_lamp_mask;
    boost::optional<float> m_min_score_lamp_target;
    boost::optional<std::uint64_t> m_additional_context_bases;
    boost::optional<std::uint64_t> m_min_length_lamp_context;
    boost::optional<std::uint64_t> m_min_length_lamp_target;
    boost::optional<bool> m_detect_mid_strand_adapter;
};

}  // namespace interfaces
