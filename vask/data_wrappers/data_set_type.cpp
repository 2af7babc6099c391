#include "vask/data_wrappers/data_set_type.h"

#include <ostream>
#include <stdexcept>

namespace vask::data_wrappers {

std::string to_string(DataSetType type)
{
    switch (type) {
    case DataSetType::int8:
        return "int8";
    case DataSetType::int16:
        return "int16";
    case DataSetType::int32:
        return "int32";
    case DataSetType::int64:
        return "int64";
    case DataSetType::uint8:
        return "uint8";
    case DataSetType::uint16:
        return "uint16";
    case DataSetType::uint32:
        return "uint32";
    case DataSetType::uint64:
        return "uint64";
    case DataSetType::float32:
        return "float32";
    case DataSetType::float64:
        return "float64";
    case DataSetType::fixed_string:
        return "fixed_string";
    case DataSetType::string:
        return "string";
    case DataSetType::table:
        return "table";
    case DataSetType::none:
        return "none";
    }
    throw std::runtime_error("unrecognised DataSetType value");
}

std::ostream& operator<<(std::ostream& stream, DataSetType type)
{
    return stream << to_string(type);
}

}  // namespace vask::data_wrappers
