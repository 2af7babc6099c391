#pragma once

#include <string>

// How barcodes are named, so that hosts label reads exactly as the server does.
namespace common::barcode_naming {

constexpr const char* DUAL_BARCODE_OUTER_PREFIX = "barcode_external";
constexpr const char* DUAL_BARCODE_INNER_PREFIX = "_internal";

// `format` (printf-style, one integer conversion) applied to `index`; barcode 12 of a kit with
// the twelve-a flag gets a trailing "a".
std::string generate_normalised_id(const std::string& format, int index, bool twelve_a);

// Whether a kit's barcode numbers form a usable range (kits without one name nothing).
inline bool has_valid_range(int first, int last)
{
    return first >= 0 && first <= last;
}

// generate_normalised_id for an index that must lie in [first, last]; otherwise throws
// std::out_of_range "<lookup> index <index> out of range [<first> .. <last>]".
std::string generate_id_in_range(const char* lookup, const std::string& format, int index,
                                 int first, int last, bool twelve_a);

// "barcode_externalXX_internalYY" from the last two characters of each name. Throws
// std::out_of_range for a name shorter than two characters.
std::string generate_dual_normalised_id(const std::string& outer, const std::string& inner);

}  // namespace common::barcode_naming
