#include "program_support/number_parsing.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace program_support {

std::optional<unsigned long> parse_whole_number(const std::string& text, unsigned long minimum,
                                                unsigned long maximum)
{
    unsigned long number = 0;
    const auto end = text.data() + text.size();
    const auto parsed = std::from_chars(text.data(), end, number);
    if (text.empty() || parsed.ec != std::errc() || parsed.ptr != end || number < minimum ||
        number > maximum) {
        return std::nullopt;
    }
    return number;
}

std::optional<float> parse_fraction(const std::string& text)
{
    // strtof would skip leading white space.
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) {
        return std::nullopt;
    }
    char* end = nullptr;
    const float number = std::strtof(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

}  // namespace program_support
