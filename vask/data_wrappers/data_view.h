#pragma once

#include "vask/data_wrappers/data_set_type.h"
#include "vask/data_wrappers/data_table.h"
#include "vask/data_wrappers/mat_view.h"
#include "vask/data_wrappers/metadata.h"
#include "vask/util/tamsu_export.h"

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vask::data_wrappers {

// A typed description of one block of memory (a vector, a contiguous row-major matrix, one
// whole string, or the records of a table) with its own metadata. A view either owns its
// storage (then `data` stays valid for the view's life, across moves of the view) or points
// at memory the caller keeps alive. Move-only; not synchronised.
class TAMSU_EXPORT DataView {
public:
    class TAMSU_EXPORT OwnerBase {
    public:
        OwnerBase() = default;
        OwnerBase(const OwnerBase&) = delete;
        OwnerBase& operator=(const OwnerBase&) = delete;
        virtual ~OwnerBase();
    };

    // Storage a view owns; holds one T by value.
    template <typename T>
    class Owner final : public OwnerBase {
    public:
        explicit Owner(T&& value)
                : m_value(std::move(value))
        {
        }
        T& get() { return m_value; }
        const T& get() const { return m_value; }

    private:
        T m_value;
    };

    const void* data = nullptr;
    const std::string* object = nullptr;  // the viewed string of a `string` view
    DataSetType type = DataSetType::none;
    std::size_t element_size = 0;
    std::size_t element_count = 0;
    std::size_t rows = 0;       // 0 unless a matrix
    std::size_t columns = 0;    // 0 unless a matrix
    std::vector<Field> fields;  // record layout of a `table` view
    std::unique_ptr<OwnerBase> owner;
    Metadata metadata;

    // An empty view of type `none`.
    DataView();

    // One string as a single element of length + 1 bytes. With `take`, the text moves into
    // the view and the caller's string is left empty; otherwise the caller keeps it alive.
    DataView(std::string& text, bool take);

    // A vector of fixed-width numbers. With `take`, the elements move into the view and the
    // caller's vector is left empty; otherwise the caller keeps it alive and unresized.
    template <typename T>
    DataView(std::vector<T>& values, bool take)
    {
        if (take) {
            auto storage = std::make_unique<Owner<std::vector<T>>>(std::move(values));
            describe_vector(storage->get().data(), storage->get().size());
            owner = std::move(storage);
        } else {
            describe_vector(values.data(), values.size());
        }
    }

    // `count` numbers at `values`, owned by the caller.
    template <typename T>
    DataView(const T* values, std::size_t count)
    {
        describe_vector(values, count);
    }

    // The contiguous row-major matrix of `matrix`'s shape held in `storage`, which always
    // moves into the view (the strides of `matrix` are not kept).
    template <typename T>
    DataView(const MatView<T>& matrix, std::vector<T>& storage)
    {
        auto owned = std::make_unique<Owner<std::vector<T>>>(std::move(storage));
        describe_vector(owned->get().data(), matrix.rows * matrix.columns);
        rows = matrix.rows;
        columns = matrix.columns;
        owner = std::move(owned);
    }

    // The records of a finished table, which moves into the view.
    explicit DataView(DataTable&& table);

    // Copies the description and field list, takes the owner and the metadata; the source
    // keeps its description but no longer owns storage.
    DataView(DataView&& other);
    // As the move constructor, after releasing what this view owned.
    DataView& operator=(DataView&& other);
    DataView(const DataView&) = delete;
    DataView& operator=(const DataView&) = delete;

    virtual ~DataView();

    // Back to an empty view of type `none`: owned storage is destroyed, metadata cleared.
    virtual void clear();

    // The elements as T. Throws std::runtime_error "Invalid array type requested." unless the
    // view's type is exactly the one that describes T.
    template <typename T>
    const T* get_array() const
    {
        if (type != DataSetTypeOf<T>::value) {
            throw std::runtime_error("Invalid array type requested.");
        }
        return static_cast<const T*>(data);
    }

    // The viewed text of a `string` view; throws std::runtime_error for any other view.
    const std::string& get_string() const;

    // A new table with this `table` view's layout and a copy of its records. Throws
    // std::runtime_error when the field list is not a valid layout or its record size does
    // not match the view's element size.
    DataTable to_table() const;

private:
    template <typename T>
    void describe_vector(const T* values, std::size_t count)
    {
        data = values;
        type = DataSetTypeOf<T>::value;
        element_size = sizeof(T);
        element_count = count;
    }
};

}  // namespace vask::data_wrappers
