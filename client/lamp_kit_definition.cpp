#include "client/lamp_kit_definition.h"

#include "common/barcode_naming.h"

namespace tamsu::server_query {

struct LampKitDefinition::LampKitDefinitionImpl {
    std::string kit_name;
    int first_index;
    int last_index;
    std::string name_format;
    std::vector<std::string> targets;
};

LampKitDefinition::LampKitDefinition(std::string kit_name, int first_index, int last_index,
                                     std::string name_format, std::vector<std::string> targets)
        : m_impl(std::make_shared<const LampKitDefinitionImpl>(
                  LampKitDefinitionImpl{std::move(kit_name), first_index, last_index,
                                        std::move(name_format), std::move(targets)}))
{
}

std::string LampKitDefinition::kit_name() const
{
    return m_impl->kit_name;
}

int LampKitDefinition::first_index() const
{
    return m_impl->first_index;
}

int LampKitDefinition::last_index() const
{
    return m_impl->last_index;
}

const std::vector<std::string>& LampKitDefinition::targets() const
{
    return m_impl->targets;
}

std::string LampKitDefinition::generate_barcode_name(int barcode) const
{
    namespace naming = common::barcode_naming;
    const auto& kit = *m_impl;
    if (!naming::has_valid_range(kit.first_index, kit.last_index)) {
        return kit.name_format;
    }
    return naming::generate_id_in_range("get_barcode", kit.name_format, barcode, kit.first_index,
                                        kit.last_index, false);
}

}  // namespace tamsu::server_query
