#include "ipc_tools/message_type.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace ipc_tools {
namespace {

TEST(MessageTypeTest, NamesAreDistinctOverTheWholeEnumerationAndUnknownOutsideIt)
{
    std::set<std::string> names;
    for (std::uint32_t value = 0; value <= 40; ++value) {
        names.insert(message_type_as_string(static_cast<MessageType>(value)));
    }
    EXPECT_EQ(names.size(), 41u);
    EXPECT_EQ(names.count("CLIENT_NOT_RECOGNISED") + names.count("RETURN_NEXT_CALLED_BLOCK"), 2u);
    EXPECT_EQ(message_type_as_string(static_cast<MessageType>(41)), "<unknown>");
    EXPECT_EQ(current_version_as_string(), "7.0.0");
}

}  // namespace
}  // namespace ipc_tools
