#include "vask/data_wrappers/data_table.h"

#include <stdexcept>

namespace vask::data_wrappers {

namespace {

std::size_t round_up(std::size_t value, std::size_t multiple)
{
    return (value + multiple - 1) / multiple * multiple;
}

}  // namespace

void DataTable::add_field(const std::string& name, DataSetType type, std::size_t size)
{
    const bool is_fixed_string = type == DataSetType::fixed_string;
    if (!is_fixed_width(type) && !is_fixed_string) {
        throw std::runtime_error("Invalid data type for data table field.");
    }
    if (size == 0) {
        if (is_fixed_string) {
            throw std::runtime_error("Must specify a size for string fields.");
        }
        size = DATA_SET_TYPE_SIZES[static_cast<std::size_t>(type)];
    } else if (!is_fixed_string && size != DATA_SET_TYPE_SIZES[static_cast<std::size_t>(type)]) {
        throw std::runtime_error("Specified type size does not match actual type size.");
    }

    // Text is aligned like the 4-byte fields that usually follow it; numbers to their width.
    const std::size_t alignment = is_fixed_string ? 4 : size;
    const std::size_t offset = round_up(record_size, alignment);
    fields.push_back(Field{name, type, size, offset});
    record_size = offset + size + (is_fixed_string ? 1 : 0);
    field_index[name] = fields.size() - 1;
}

void DataTable::resize(std::size_t n)
{
    num_records = n;
    record_size = round_up(record_size, 8);
    data.assign(n * record_size, 0);
}

std::size_t DataTable::checked_field_offset(const std::string& name, std::size_t element_size) const
{
    const Field& field = fields.at(field_index.at(name));
    const bool text_as_bytes = field.type == DataSetType::fixed_string && element_size == 1;
    if (!text_as_bytes && field.size != element_size) {
        throw std::runtime_error("VecView type not compatible with field type.");
    }
    return field.offset;
}

}  // namespace vask::data_wrappers
