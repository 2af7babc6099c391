#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace common {

// The text of an enumeration value from a table indexed by the value; null when the value lies
// outside the table (negative values included).
template <std::size_t N, typename Enum>
const char* enum_name(const std::array<const char*, N>& names, Enum value)
{
    const auto index = static_cast<std::size_t>(value);
    return index < N ? names[index] : nullptr;
}

// As enum_name, but a value outside the table throws std::runtime_error with `error`.
template <std::size_t N, typename Enum>
std::string enum_name_or_throw(const std::array<const char*, N>& names, Enum value,
                               const char* error)
{
    const char* name = enum_name(names, value);
    if (name == nullptr) {
        throw std::runtime_error(error);
    }
    return name;
}

}  // namespace common
