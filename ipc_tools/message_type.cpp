#include "ipc_tools/message_type.h"

#include "common/enum_names.h"

#include "ipc_tools/protocol_version.h"

#include <array>

namespace ipc_tools {

namespace {

// Indexed by the enumeration's value.
constexpr std::array<const char*, 41> k_type_names{
        "UNSET",
        "INVALID_PROTOCOL",
        "BAD_REQUEST",
        "CONNECT",
        "CONNECTED",
        "INVALID_CONFIG",
        "INVALID_BARCODE_KIT",
        "INVALID_INDEX",
        "INVALID_BED",
        "INDEX_NO_SEQ",
        "DISCONNECT",
        "DISCONNECTED",
        "TERMINATE",
        "SHUTTING_DOWN",
        "GET_STATISTICS",
        "RETURN_STATISTICS",
        "LOAD_CONFIG",
        "GET_CONFIGS",
        "RETURN_CONFIGS",
        "LOAD_INDEX",
        "GET_INDICES",
        "LOAD_BED",
        "PASS_FIRST_RAW_BLOCK",
        "NOT_READY",
        "PASS_NEXT_RAW_BLOCK",
        "CLIENT_NOT_RECOGNISED",
        "RAW_BLOCK_ACCEPTED",
        "GET_FIRST_CALLED_BLOCK",
        "RETURN_FIRST_CALLED_BLOCK",
        "NONE_PENDING",
        "GET_NEXT_CALLED_BLOCK",
        "RETURN_NEXT_CALLED_BLOCK",
        "GET_BARCODE_KITS",
        "GET_LAMP_KITS",
        "HEARTBEAT_PING",
        "HEARTBEAT_ECHO",
        "GET_STATE",
        "RETURN_STATE",
        "LOADING",
        "SUCCESS",
        "REQUEST_FAILED",
};

}  // namespace

std::string message_type_as_string(MessageType type)
{
    const char* name = common::enum_name(k_type_names, type);
    return name ? name : "<unknown>";
}

std::string current_version_as_string()
{
    const auto& version = current_protocol_version();
    return std::to_string(version.major()) + "." + std::to_string(version.minor()) + "." +
           std::to_string(version.patch());
}

}  // namespace ipc_tools
