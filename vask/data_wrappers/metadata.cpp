#include "vask/data_wrappers/metadata.h"

#include <utility>

namespace vask::data_wrappers {

Metadata::Metadata(MapWrapper&& values, const Schema& schema)
        : MapWrapper(std::move(values))
{
    if (!schema.empty()) {
        validate(schema, true);
    }
}

}  // namespace vask::data_wrappers
