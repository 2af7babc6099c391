#include "vask/data_wrappers/map_wrapper.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

namespace vask::data_wrappers {
namespace {

TEST(MapWrapperTest, ValuesReadOnlyAsTheExactTypeLastStored)
{
    MapWrapper map;
    map.insert<long>("count", 5);
    map.insert<int>("text", 1);
    map.emplace("text", "literal");  // replaces value and type, stored as std::string
    EXPECT_EQ(map.get_value<long>("count"), 5);
    EXPECT_EQ(map.get_value<std::string>("text"), "literal");

    const std::pair<std::function<void()>, std::string> failures[] = {
            {[&] { map.get_value<unsigned long>("count"); }, "Could not find key 'count' in map."},
            {[&] { map.get_value<int>("text"); }, "Could not find key 'text' in map."},
            {[&] { map.get_value<long>("absent"); }, "Could not find key 'absent' in map."}};
    for (std::size_t i = 0; i < std::size(failures); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tamsu_test::exception_text<std::out_of_range>(failures[i].first),
                  failures[i].second);
    }
}

}  // namespace
}  // namespace vask::data_wrappers
