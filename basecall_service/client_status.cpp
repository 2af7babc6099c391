#include "basecall_service/client_status.h"

#include "common/enum_names.h"

#include <array>

namespace basecall_service {

namespace {

constexpr std::array<const char*, 8> k_status_names{
        "disconnected",     "preparing_connection", "loading_config", "loading_alignment_index",
        "loading_bed_file", "connecting",           "connected",      "error"};

constexpr std::array<const char*, 12> k_error_names{"no_error",
                                                    "bad_request",
                                                    "bad_reply",
                                                    "timed_out",
                                                    "invalid_response",
                                                    "basecall_config_unavailable",
                                                    "barcode_kit_unavailable",
                                                    "align_index_unavailable",
                                                    "bed_file_unavailable",
                                                    "align_index_no_seq",
                                                    "file_load_timeout",
                                                    "failed"};

}  // namespace

std::string to_string(ClientStatus status)
{
    return common::enum_name_or_throw(k_status_names, status, "unrecognised ClientStatus value");
}

std::string to_string(ConnectionError error)
{
    return common::enum_name_or_throw(k_error_names, error, "unrecognised ConnectionError value");
}

std::string to_string(const ErrorState& state)
{
    return "[" + to_string(state.code) + "] " + state.message;
}

std::ostream& operator<<(std::ostream& stream, ClientStatus status)
{
    return stream << to_string(status);
}

std::ostream& operator<<(std::ostream& stream, ConnectionError error)
{
    return stream << to_string(error);
}

std::ostream& operator<<(std::ostream& stream, const ErrorState& state)
{
    return stream << to_string(state);
}

}  // namespace basecall_service
