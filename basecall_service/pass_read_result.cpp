#include "basecall_service/pass_read_result.h"

#include <array>
#include <stdexcept>

namespace basecall_service {

std::string to_string(PassReadResult result)
{
    static constexpr std::array<const char*, 3> names{"success", "not_accepting_reads",
                                                      "queue_full"};
    const auto index = static_cast<std::size_t>(result);
    if (index >= names.size()) {
        throw std::runtime_error("unrecognised PassReadResult");
    }
    return names[index];
}

std::ostream& operator<<(std::ostream& stream, PassReadResult result)
{
    return stream << to_string(result);
}

}  // namespace basecall_service
