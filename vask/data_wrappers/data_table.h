#pragma once

#include "vask/data_wrappers/data_set_type.h"
#include "vask/data_wrappers/vec_view.h"
#include "vask/util/tamsu_export.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace vask::data_wrappers {

// One named, typed field of a table record. For fixed_string, `size` excludes the NUL.
struct Field {
    std::string name;
    DataSetType type;
    std::size_t size;
    std::size_t offset;  // bytes from the start of a record
};

// Fixed-size records of named, typed fields, stored back to back. Add every field first,
// then resize; the layout is fixed from then on. A plain value type; not synchronised.
class TAMSU_EXPORT DataTable {
public:
    std::vector<char> data;
    std::vector<Field> fields;  // in the order they were added
    std::map<std::string, std::size_t> field_index;
    std::size_t record_size = 0;  // bytes per record, also the row stride
    std::size_t num_records = 0;

    // A size of 0 takes the type's own width. Throws std::runtime_error (leaving the table
    // unchanged) for a type outside int8..fixed_string, a fixed_string without a size, or a
    // size that contradicts the type. Re-adding a name points the index at the newer field.
    void add_field(const std::string& name, DataSetType type, std::size_t size);

    // n zeroed records; rounds the record size up to a multiple of 8.
    void resize(std::size_t n);

    // The named field across all records. T must be as wide as the field; for a fixed_string
    // field T is a one-byte type and each element starts a NUL-terminated character array.
    // Throws std::out_of_range for an unknown name and std::runtime_error for a width
    // mismatch. The view is valid until the table's data is reallocated or destroyed.
    template <typename T>
    VecView<T> view_field(const std::string& name)
    {
        const std::size_t offset = checked_field_offset(name, sizeof(T));
        T* first = data.empty() ? nullptr : reinterpret_cast<T*>(data.data() + offset);
        return VecView<T>(first, num_records, record_size / sizeof(T));
    }

    template <typename T>
    VecView<const T> view_field(const std::string& name) const
    {
        const std::size_t offset = checked_field_offset(name, sizeof(T));
        const T* first = data.empty() ? nullptr : reinterpret_cast<const T*>(data.data() + offset);
        return VecView<const T>(first, num_records, record_size / sizeof(T));
    }

private:
    std::size_t checked_field_offset(const std::string& name, std::size_t element_size) const;
};

}  // namespace vask::data_wrappers
