#include "server/server_reply.h"

#include "ipc_tools/protocol_version.h"

namespace reference_server {

ipc_tools::Message reply(ipc_tools::MessageType type, unsigned int value, const std::string& text)
{
    return ipc_tools::Message(type, "", value, text);
}

ipc_tools::Message finish_content(flatbuffers::FlatBufferBuilder& builder,
                                  tamsu_ipc::MessageContent type, flatbuffers::Offset<void> content)
{
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_version(&ipc_tools::current_protocol_version());
    root.add_content_type(type);
    root.add_content(content);
    builder.Finish(root.Finish(), ipc_tools::k_file_identifier);
    return ipc_tools::Message(builder);
}

}  // namespace reference_server
