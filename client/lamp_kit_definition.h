#pragma once

#include "vask/util/tamsu_export.h"

#include <memory>
#include <string>
#include <vector>

namespace tamsu::server_query {

// A LAMP kit as the server describes it. Immutable; copies share one state, so they are cheap
// and may be used from any thread.
class TAMSU_EXPORT LampKitDefinition {
public:
    LampKitDefinition(std::string kit_name, int first_index, int last_index,
                      std::string name_format, std::vector<std::string> targets);

    std::string kit_name() const;
    int first_index() const;
    int last_index() const;
    const std::vector<std::string>& targets() const;

    // The server's name for a barcode of this kit. A kit without a valid range answers its
    // name format. Throws std::out_of_range for a barcode outside the kit's range.
    std::string generate_barcode_name(int barcode) const;

private:
    struct LampKitDefinitionImpl;
    std::shared_ptr<const LampKitDefinitionImpl> m_impl;
};

}  // namespace tamsu::server_query
