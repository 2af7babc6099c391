#pragma once

#include "ipc_tools/message.h"

#include <string>

namespace reference_server {

// A reply with no connection id and, besides its type, only a value and a text.
ipc_tools::Message reply(ipc_tools::MessageType type, unsigned int value = 0,
                         const std::string& text = {});

// Finishes `builder` as a reply carrying `content` of type `type`.
ipc_tools::Message finish_content(flatbuffers::FlatBufferBuilder& builder,
                                  tamsu_ipc::MessageContent type,
                                  flatbuffers::Offset<void> content);

}  // namespace reference_server
