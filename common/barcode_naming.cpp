#include "common/barcode_naming.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace common::barcode_naming {

namespace {

constexpr std::size_t k_most_size_digits = 2;

// Moves `i` past the digits at `i` and returns how many there were.
std::size_t skip_digits(const std::string& format, std::size_t& i)
{
    const auto start = i;
    while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i]))) {
        ++i;
    }
    return i - start;
}

// Whether `c` is one of `set`; unlike strchr, never for the NUL that ends printf's view of a
// format, so a conversion cut short by an embedded NUL does not count.
bool is_one_of(char c, const char* set)
{
    return c != '\0' && std::strchr(set, c) != nullptr;
}

// The format comes from the server: anything but exactly one int conversion (flags, short width
// and precision allowed) would make printf read arguments that are not there.
bool has_one_int_conversion(const std::string& format)
{
    int conversions = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            continue;
        }
        if (++i < format.size() && format[i] == '%') {
            continue;
        }
        while (i < format.size() && is_one_of(format[i], "-+ 0#")) {
            ++i;
        }
        // Width and precision of at most two digits each: a server's "%999999999d" would
        // otherwise make one name a gigabyte.
        if (skip_digits(format, i) > k_most_size_digits) {
            return false;
        }
        if (i < format.size() && format[i] == '.' &&
            skip_digits(format, ++i) > k_most_size_digits) {
            return false;
        }
        if (i >= format.size() || !is_one_of(format[i], "diouxX")) {
            return false;
        }
        ++conversions;
    }
    return conversions == 1;
}

}  // namespace

std::string generate_normalised_id(const std::string& format, int index, bool twelve_a)
{
    if (!has_one_int_conversion(format)) {
        throw std::invalid_argument("Barcode name format '" + format +
                                    "' must hold exactly one integer conversion");
    }
    // The flag is passed as a spare argument that the format does not use.
    const int length = std::snprintf(nullptr, 0, format.c_str(), index, twelve_a);
    if (length < 0) {
        return format;
    }
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::snprintf(buffer.data(), buffer.size(), format.c_str(), index, twelve_a);
    std::string name(buffer.data(), static_cast<std::size_t>(length));
    if (index == 12 && twelve_a) {
        name += "a";
    }
    return name;
}

std::string generate_id_in_range(const char* lookup, const std::string& format, int index,
                                 int first, int last, bool twelve_a)
{
    if (index < first || index > last) {
        throw std::out_of_range(std::string(lookup) + " index " + std::to_string(index) +
                                " out of range [" + std::to_string(first) + " .. " +
                                std::to_string(last) + "]");
    }
    return generate_normalised_id(format, index, twelve_a);
}

std::string generate_dual_normalised_id(const std::string& outer, const std::string& inner)
{
    return DUAL_BARCODE_OUTER_PREFIX + outer.substr(outer.size() - 2) + DUAL_BARCODE_INNER_PREFIX +
           inner.substr(inner.size() - 2);
}

}  // namespace common::barcode_naming
