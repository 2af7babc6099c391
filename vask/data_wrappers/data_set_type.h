#pragma once

#include "vask/util/tamsu_export.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace vask::data_wrappers {

// Element type of a table field or a data view.
enum class DataSetType : std::int32_t {
    int8 = 0,
    int16 = 1,
    int32 = 2,
    int64 = 3,
    uint8 = 4,
    uint16 = 5,
    uint32 = 6,
    uint64 = 7,
    float32 = 8,
    float64 = 9,
    fixed_string = 10,  // table fields only; length declared per field, plus a NUL
    string = 11,        // views only: one whole std::string
    table = 12,         // views only: the records of a DataTable
    none = 13,          // an empty view
};

// Width in bytes of the fixed-width types int8 to float64, indexed by their value.
constexpr std::array<std::size_t, 10> DATA_SET_TYPE_SIZES = {1, 2, 4, 8, 1, 2, 4, 8, 4, 8};

constexpr bool is_fixed_width(DataSetType type)
{
    return static_cast<std::int32_t>(type) >= 0 &&
           static_cast<std::int32_t>(type) < static_cast<std::int32_t>(DATA_SET_TYPE_SIZES.size());
}

// The element type that describes values of T; defined for the fixed-width arithmetic types.
template <typename T>
struct DataSetTypeOf;

template <>
struct DataSetTypeOf<char> {
    static constexpr DataSetType value = DataSetType::int8;
};
template <>
struct DataSetTypeOf<signed char> {
    static constexpr DataSetType value = DataSetType::int8;
};
template <>
struct DataSetTypeOf<std::int16_t> {
    static constexpr DataSetType value = DataSetType::int16;
};
template <>
struct DataSetTypeOf<std::int32_t> {
    static constexpr DataSetType value = DataSetType::int32;
};
template <>
struct DataSetTypeOf<std::int64_t> {
    static constexpr DataSetType value = DataSetType::int64;
};
template <>
struct DataSetTypeOf<unsigned char> {
    static constexpr DataSetType value = DataSetType::uint8;
};
template <>
struct DataSetTypeOf<std::uint16_t> {
    static constexpr DataSetType value = DataSetType::uint16;
};
template <>
struct DataSetTypeOf<std::uint32_t> {
    static constexpr DataSetType value = DataSetType::uint32;
};
template <>
struct DataSetTypeOf<std::uint64_t> {
    static constexpr DataSetType value = DataSetType::uint64;
};
template <>
struct DataSetTypeOf<float> {
    static constexpr DataSetType value = DataSetType::float32;
};
template <>
struct DataSetTypeOf<double> {
    static constexpr DataSetType value = DataSetType::float64;
};

// The enumerator's name. Both throw std::runtime_error for a value outside 0 to 13.
TAMSU_EXPORT std::string to_string(DataSetType type);
TAMSU_EXPORT std::ostream& operator<<(std::ostream& stream, DataSetType type);

}  // namespace vask::data_wrappers
