#pragma once

#include <cstddef>
#include <stdexcept>

namespace vask::data_wrappers {

// Strided access to `size` elements of memory owned elsewhere: element i is data[i * stride],
// the stride counted in elements. Valid only while that memory lives.
template <typename T>
struct VecView {
    T* data = nullptr;
    std::size_t size = 0;
    std::size_t stride = 1;

    VecView() = default;

    // Throws std::runtime_error for a zero stride, or a null pointer with a non-zero size.
    VecView(T* data_, std::size_t size_, std::size_t stride_)
            : data(data_)
            , size(size_)
            , stride(stride_)
    {
        if (stride == 0) {
            throw std::runtime_error("Stride cannot be zero.");
        }
        if (data == nullptr && size > 0) {
            throw std::runtime_error("Cannot view nullptr with size > 0");
        }
    }

    // Unchecked.
    T& operator[](std::size_t index) const { return data[index * stride]; }
};

}  // namespace vask::data_wrappers
