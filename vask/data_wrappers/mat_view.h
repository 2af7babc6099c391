#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace vask::data_wrappers {

// Read access to a matrix in memory owned elsewhere: element (r, c) is
// data[r * row_stride + c * column_stride], strides counted in elements. A contiguous
// row-major matrix has row_stride == columns and column_stride == 1.
template <typename T>
struct MatView {
    const T* data = nullptr;
    std::size_t rows = 0;
    std::size_t columns = 0;
    std::size_t row_stride = 0;
    std::size_t column_stride = 0;

    // Throws std::runtime_error, leaving the view unchanged, when either stride is zero.
    void view(const T* data_, std::size_t rows_, std::size_t columns_, std::size_t row_stride_,
              std::size_t column_stride_)
    {
        if (row_stride_ == 0 || column_stride_ == 0) {
            throw std::runtime_error("Strides (" + std::to_string(row_stride_) + "," +
                                     std::to_string(column_stride_) + ") cannot be zero.");
        }
        data = data_;
        rows = rows_;
        columns = columns_;
        row_stride = row_stride_;
        column_stride = column_stride_;
    }

    // Unchecked.
    const T& operator()(std::size_t row, std::size_t column) const
    {
        return data[row * row_stride + column * column_stride];
    }
};

}  // namespace vask::data_wrappers
