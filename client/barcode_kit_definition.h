#pragma once

#include "vask/util/tamsu_export.h"

#include <memory>
#include <string>

namespace tamsu::server_query {

// A barcode kit as the server describes it. Immutable; copies share one state, so they are
// cheap and may be used from any thread.
class TAMSU_EXPORT BarcodeKitDefinition {
public:
    BarcodeKitDefinition(std::string kit_name, int first_index, int last_index,
                         int first_inner_index, int last_inner_index, bool is_dual,
                         bool is_both_ends, bool twelve_a, std::string name_format);

    std::string kit_name() const;
    int first_index() const;
    int last_index() const;
    int first_inner_index() const;
    int last_inner_index() const;
    bool is_dual() const;
    bool is_both_ends() const;

    // The server's name for a barcode (a pair of outer and inner barcodes for a dual kit;
    // `inner_barcode` is ignored otherwise). A kit without a valid range answers its name
    // format. Throws std::out_of_range for a barcode outside the kit's range.
    std::string generate_barcode_name(int barcode, int inner_barcode) const;

private:
    struct KitDefinitionImpl;
    std::string outer_name(int barcode) const;

    std::shared_ptr<const KitDefinitionImpl> m_impl;
};

}  // namespace tamsu::server_query
