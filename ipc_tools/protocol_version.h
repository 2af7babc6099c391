#pragma once

#include "ipc_tools/tamsu_ipc_generated.h"

namespace ipc_tools {

// The protocol version this client speaks (7.0.0); written into every message it builds.
inline const tamsu_ipc::ProtocolVersion& current_protocol_version()
{
    static const tamsu_ipc::ProtocolVersion version(7, 0, 0);
    return version;
}

// The file identifier at bytes 4 to 7 of every message buffer.
constexpr const char* k_file_identifier = "0007";

}  // namespace ipc_tools
