#pragma once

#include <cstdint>
#include <string>

namespace ipc_tools {

// Every kind of message, whichever wire table carries it. Code above the IPC layer dispatches on
// these values only.
enum class MessageType : std::uint32_t {
    UNSET = 0,             // empty or unreadable buffer; never sent
    INVALID_PROTOCOL = 1,  // buffer with a foreign file identifier; never sent
    BAD_REQUEST = 2,
    CONNECT = 3,
    CONNECTED = 4,
    INVALID_CONFIG = 5,
    INVALID_BARCODE_KIT = 6,
    INVALID_INDEX = 7,
    INVALID_BED = 8,
    INDEX_NO_SEQ = 9,
    DISCONNECT = 10,
    DISCONNECTED = 11,
    TERMINATE = 12,
    SHUTTING_DOWN = 13,
    GET_STATISTICS = 14,
    RETURN_STATISTICS = 15,
    LOAD_CONFIG = 16,
    GET_CONFIGS = 17,
    RETURN_CONFIGS = 18,
    LOAD_INDEX = 19,
    GET_INDICES = 20,
    LOAD_BED = 21,
    PASS_FIRST_RAW_BLOCK = 22,
    NOT_READY = 23,
    PASS_NEXT_RAW_BLOCK = 24,
    CLIENT_NOT_RECOGNISED = 25,
    RAW_BLOCK_ACCEPTED = 26,
    GET_FIRST_CALLED_BLOCK = 27,
    RETURN_FIRST_CALLED_BLOCK = 28,
    NONE_PENDING = 29,
    GET_NEXT_CALLED_BLOCK = 30,
    RETURN_NEXT_CALLED_BLOCK = 31,
    GET_BARCODE_KITS = 32,
    GET_LAMP_KITS = 33,
    HEARTBEAT_PING = 34,
    HEARTBEAT_ECHO = 35,
    GET_STATE = 36,
    RETURN_STATE = 37,
    LOADING = 38,
    SUCCESS = 39,
    REQUEST_FAILED = 40,
};

// The message type's name ("GET_STATISTICS"), or "<unknown>" for a value outside the enumeration.
std::string message_type_as_string(MessageType type);

// The protocol version every built message carries, as "major.minor.patch".
std::string current_version_as_string();

}  // namespace ipc_tools
