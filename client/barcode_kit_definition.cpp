#include "client/barcode_kit_definition.h"

#include "common/barcode_naming.h"

namespace tamsu::server_query {

struct BarcodeKitDefinition::KitDefinitionImpl {
    std::string kit_name;
    int first_index;
    int last_index;
    int first_inner_index;
    int last_inner_index;
    bool is_dual;
    bool is_both_ends;
    bool twelve_a;
    std::string name_format;
};

BarcodeKitDefinition::BarcodeKitDefinition(std::string kit_name, int first_index, int last_index,
                                           int first_inner_index, int last_inner_index,
                                           bool is_dual, bool is_both_ends, bool twelve_a,
                                           std::string name_format)
        : m_impl(std::make_shared<const KitDefinitionImpl>(KitDefinitionImpl{
                  std::move(kit_name), first_index, last_index, first_inner_index, last_inner_index,
                  is_dual, is_both_ends, twelve_a, std::move(name_format)}))
{
}

std::string BarcodeKitDefinition::kit_name() const
{
    return m_impl->kit_name;
}

int BarcodeKitDefinition::first_index() const
{
    return m_impl->first_index;
}

int BarcodeKitDefinition::last_index() const
{
    return m_impl->last_index;
}

int BarcodeKitDefinition::first_inner_index() const
{
    return m_impl->first_inner_index;
}

int BarcodeKitDefinition::last_inner_index() const
{
    return m_impl->last_inner_index;
}

bool BarcodeKitDefinition::is_dual() const
{
    return m_impl->is_dual;
}

bool BarcodeKitDefinition::is_both_ends() const
{
    return m_impl->is_both_ends;
}

std::string BarcodeKitDefinition::generate_barcode_name(int barcode, int inner_barcode) const
{
    namespace naming = common::barcode_naming;
    const auto& kit = *m_impl;
    if (!naming::has_valid_range(kit.first_index, kit.last_index)) {
        return kit.name_format;
    }
    if (!kit.is_dual) {
        return outer_name(barcode);
    }
    const auto inner =
            naming::generate_id_in_range("get_inner_barcode", kit.name_format, inner_barcode,
                                         kit.first_inner_index, kit.last_inner_index, kit.twelve_a);
    return naming::generate_dual_normalised_id(outer_name(barcode), inner);
}

std::string BarcodeKitDefinition::outer_name(int barcode) const
{
    const auto& kit = *m_impl;
    return common::barcode_naming::generate_id_in_range(
            "get_barcode", kit.name_format, barcode, kit.first_index, kit.last_index, kit.twelve_a);
}

}  // namespace tamsu::server_query
