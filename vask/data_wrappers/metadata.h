#pragma once

#include "vask/data_wrappers/map_wrapper.h"
#include "vask/util/tamsu_export.h"

#include <stdexcept>
#include <string>

namespace vask::data_wrappers {

// Tags name one key together with the type its value must have; read them with
// Metadata::get<Tag>().
namespace read_data {
struct duration {
    static constexpr const char* key = "duration";
    using value_type = unsigned long;  // samples in the whole read
};
}  // namespace read_data

namespace basecall_data {
struct model_stride {
    static constexpr const char* key = "model_stride";
    using value_type = unsigned long;
};
}  // namespace basecall_data

// A MapWrapper that can be built against a schema and read through tags. Same copy and move
// semantics as MapWrapper; not synchronised.
class TAMSU_EXPORT Metadata : public MapWrapper {
public:
    Metadata() = default;

    // Takes over the content of `values`, leaving it empty. A non-empty schema drops every
    // entry whose key is not in it or whose type differs from it.
    Metadata(MapWrapper&& values, const Schema& schema);

    // The stored value, valid until the entry is replaced or removed. Throws
    // std::out_of_range when the tag's key is absent or holds another type.
    template <typename Tag>
    typename Tag::value_type& get() const
    {
        typename Tag::value_type* value = nullptr;
        if (!extract(Tag::key, value)) {
            throw std::out_of_range(std::string("Key '") + Tag::key + "' not found.");
        }
        return *value;
    }
};

}  // namespace vask::data_wrappers
