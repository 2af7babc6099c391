#include "client/result.h"

#include "common/enum_names.h"

#include <array>

namespace tamsu {

namespace {

constexpr std::array<const char*, 15> k_result_names{"success",
                                                     "no_connection",
                                                     "already_connected",
                                                     "not_ready",
                                                     "timed_out",
                                                     "invalid_response",
                                                     "basecall_config_unavailable",
                                                     "barcode_kit_unavailable",
                                                     "align_index_unavailable",
                                                     "bed_file_unavailable",
                                                     "align_index_no_seq",
                                                     "file_load_timeout",
                                                     "failed",
                                                     "bad_request",
                                                     "bad_reply"};

constexpr std::array<const char*, 8> k_status_names{
        "disconnected",     "preparing_connection", "loading_config", "loading_alignment_index",
        "loading_bed_file", "connecting",           "connected",      "error"};

constexpr std::array<const char*, 4> k_pass_read_names{"success", "not_accepting_reads",
                                                       "queue_full", "invalid_read"};

}  // namespace

std::string to_string(Result result)
{
    return common::enum_name_or_throw(k_result_names, result, "unrecognised Result value");
}

std::string to_string(ConnectionStatus status)
{
    return common::enum_name_or_throw(k_status_names, status, "unrecognised connection status");
}

std::string to_string(PassReadResult result)
{
    return common::enum_name_or_throw(k_pass_read_names, result, "unrecognised PassReadResult");
}

std::ostream& operator<<(std::ostream& stream, Result result)
{
    return stream << to_string(result);
}

std::ostream& operator<<(std::ostream& stream, ConnectionStatus status)
{
    return stream << to_string(status);
}

std::ostream& operator<<(std::ostream& stream, PassReadResult result)
{
    return stream << to_string(result);
}

}  // namespace tamsu
