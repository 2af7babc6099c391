#include "client/get_result.h"

#include "basecall_service/exception_translation.h"
#include "client/status_conversion.h"

namespace tamsu {

Result get_result(std::function<Result()> operation, std::function<void(std::string)> on_error)
{
    try {
        return operation();
    } catch (const std::exception&) {
        const auto state = basecall_service::translate_current_exception();
        on_error(state.message);
        return to_result(state.code);
    }
}

}  // namespace tamsu
