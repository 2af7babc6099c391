#include "basecall_service/pass_read_result.h"

#include "common/enum_names.h"

#include <array>

namespace basecall_service {

std::string to_string(PassReadResult result)
{
    static constexpr std::array<const char*, 4> names{"success", "not_accepting_reads",
                                                      "queue_full", "invalid_read"};
    return common::enum_name_or_throw(names, result, "unrecognised PassReadResult");
}

std::ostream& operator<<(std::ostream& stream, PassReadResult result)
{
    return stream << to_string(result);
}

}  // namespace basecall_service
