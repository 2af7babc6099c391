#include "client/status_conversion.h"

#include <stdexcept>

namespace tamsu {

using basecall_service::ConnectionError;

Result to_result(ConnectionError error)
{
    switch (error) {
    case ConnectionError::no_error:
        return Result::success;
    case ConnectionError::bad_request:
        return Result::bad_request;
    case ConnectionError::bad_reply:
        return Result::bad_reply;
    case ConnectionError::timed_out:
        return Result::timed_out;
    case ConnectionError::invalid_response:
        return Result::invalid_response;
    case ConnectionError::basecall_config_unavailable:
        return Result::basecall_config_unavailable;
    case ConnectionError::barcode_kit_unavailable:
        return Result::barcode_kit_unavailable;
    case ConnectionError::align_index_unavailable:
        return Result::align_index_unavailable;
    case ConnectionError::bed_file_unavailable:
        return Result::bed_file_unavailable;
    case ConnectionError::align_index_no_seq:
        return Result::align_index_no_seq;
    case ConnectionError::file_load_timeout:
        return Result::file_load_timeout;
    case ConnectionError::failed:
        return Result::failed;
    }
    throw std::runtime_error("unrecognised ConnectionError value");
}

namespace {

// Whether a public enumerator and its engine twin carry the same number, so that a cast between
// them keeps the meaning.
template <typename Public, typename Engine>
constexpr bool same_number(Public value, Engine twin)
{
    return static_cast<std::int32_t>(value) == static_cast<std::int32_t>(twin);
}

using basecall_service::ClientStatus;
static_assert(same_number(ConnectionStatus::disconnected, ClientStatus::disconnected) &&
                      same_number(ConnectionStatus::preparing_connection,
                                  ClientStatus::preparing_connection) &&
                      same_number(ConnectionStatus::loading_config, ClientStatus::loading_config) &&
                      same_number(ConnectionStatus::loading_alignment_index,
                                  ClientStatus::loading_alignment_index) &&
                      same_number(ConnectionStatus::loading_bed_file,
                                  ClientStatus::loading_bed_file) &&
                      same_number(ConnectionStatus::connecting, ClientStatus::connecting) &&
                      same_number(ConnectionStatus::connected, ClientStatus::connected) &&
                      same_number(ConnectionStatus::error, ClientStatus::error),
              "ConnectionStatus and basecall_service::ClientStatus must share their numbers");

using EnginePassReadResult = basecall_service::PassReadResult;
static_assert(same_number(PassReadResult::success, EnginePassReadResult::success) &&
                      same_number(PassReadResult::not_accepting_reads,
                                  EnginePassReadResult::not_accepting_reads) &&
                      same_number(PassReadResult::queue_full, EnginePassReadResult::queue_full) &&
                      same_number(PassReadResult::invalid_read, EnginePassReadResult::invalid_read),
              "PassReadResult and basecall_service::PassReadResult must share their numbers");

}  // namespace

ConnectionStatus to_connection_status(ClientStatus status)
{
    const auto value = static_cast<std::int32_t>(status);
    if (value < 0 || value > static_cast<std::int32_t>(ConnectionStatus::error)) {
        throw std::runtime_error("unrecognised basecall_service::ClientStatus value");
    }
    return static_cast<ConnectionStatus>(value);
}

PassReadResult to_pass_read_result(EnginePassReadResult result)
{
    const auto value = static_cast<std::int32_t>(result);
    if (value < 0 || value > static_cast<std::int32_t>(PassReadResult::invalid_read)) {
        throw std::runtime_error("Unrecognised pass_read result: " + to_string(result));
    }
    return static_cast<PassReadResult>(value);
}

}  // namespace tamsu
