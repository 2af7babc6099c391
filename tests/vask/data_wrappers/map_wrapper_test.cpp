#include "vask/data_wrappers/map_wrapper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>

namespace vask::data_wrappers {
namespace {

using ::testing::ElementsAre;

std::string out_of_range_text(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const std::out_of_range& error) {
        return error.what();
    }
    return "no std::out_of_range thrown";
}

TEST(MapWrapperTest, ValueIsReadableOnlyAsTheTypeItWasStoredWith)
{
    MapWrapper map;
    map.insert<long>("count", 5);

    EXPECT_EQ(map.get_value<long>("count"), 5);
    const std::string expected = "Could not find key 'count' in map.";
    EXPECT_EQ(out_of_range_text([&] { map.get_value<int>("count"); }), expected);
    EXPECT_EQ(out_of_range_text([&] { map.get_value<unsigned long>("count"); }), expected);
    EXPECT_EQ(out_of_range_text([&] { map.get_value<double>("count"); }), expected);
    EXPECT_EQ(out_of_range_text([&] { map.get_value<long>("absent"); }),
              "Could not find key 'absent' in map.");
    EXPECT_EQ(map.check_type("count"), typeid(long));
}

TEST(MapWrapperTest, EveryStoringOperationReplacesValueAndType)
{
    MapWrapper map;
    map.insert("key", std::string("text"));
    map.insert<int>("key", 3);
    EXPECT_EQ(map.check_type("key"), typeid(int));
    EXPECT_EQ(map.get_value<int>("key"), 3);

    map.emplace("key", 2.5);
    EXPECT_EQ(map.check_type("key"), typeid(double));
    EXPECT_EQ(map.get_value<double>("key"), 2.5);

    map.insert("key", "literal");
    EXPECT_EQ(map.check_type("key"), typeid(std::string));
    EXPECT_EQ(map.get_value<std::string>("key"), "literal");

    map.emplace("key", "also a literal");
    EXPECT_EQ(map.get_value<std::string>("key"), "also a literal");
    EXPECT_EQ(map.size(), 1u);
}

TEST(MapWrapperTest, ExtractPointsAtTheStoredValueOnlyForTheExactType)
{
    MapWrapper map;
    map.insert<double>("d", 1.5);
    float sentinel = 0.0f;

    float* untouched = &sentinel;
    EXPECT_FALSE(map.extract("absent", untouched));
    EXPECT_EQ(untouched, &sentinel);

    float* nulled = &sentinel;
    EXPECT_FALSE(map.extract("d", nulled));
    EXPECT_EQ(nulled, nullptr);

    double* stored = nullptr;
    ASSERT_TRUE(map.extract("d", stored));
    *stored = 4.0;  // writes through to the map
    EXPECT_EQ(map.get_value<double>("d"), 4.0);
}

TEST(MapWrapperTest, RemoveClearAndKeys)
{
    MapWrapper map;
    EXPECT_TRUE(map.get_keys().empty());
    EXPECT_EQ(map.check_type("x"), typeid(void));
    EXPECT_EQ(out_of_range_text([&] { map.remove("x"); }), "Key 'x' not found.");

    map.insert<unsigned char>("b", 1);
    map.insert("a", "text");
    map.insert<short>("c", 2);
    std::list<std::pair<std::string, std::type_index>> keys;
    for (const auto& key : map.get_keys()) {
        keys.emplace_back(key.name, key.type);
    }
    EXPECT_THAT(keys, ElementsAre(std::make_pair("a", std::type_index(typeid(std::string))),
                                  std::make_pair("b", std::type_index(typeid(unsigned char))),
                                  std::make_pair("c", std::type_index(typeid(short)))));

    map.remove("b");
    EXPECT_FALSE(map.exists("b"));
    EXPECT_TRUE(map.exists("a"));
    map.clear();
    EXPECT_TRUE(map.empty());
}

TEST(MapWrapperTest, MergeAddsOnlyMissingKeysAsDeepCopies)
{
    MapWrapper target;
    target.insert<int>("a", 7);
    MapWrapper source;
    source.insert<long>("a", 1);
    source.insert<int>("b", 2);

    target.merge(source);
    EXPECT_EQ(target.get_value<int>("a"), 7);
    EXPECT_EQ(target.get_value<int>("b"), 2);

    int* copied = nullptr;
    ASSERT_TRUE(target.extract("b", copied));
    *copied = 9;
    EXPECT_EQ(source.get_value<int>("b"), 2);
}

TEST(MapWrapperTest, CopyIsDeepAndMoveLeavesAnEmptyUsableMap)
{
    MapWrapper original;
    original.insert<int>("n", 1);

    MapWrapper copy(original);
    copy.insert<int>("n", 2);
    EXPECT_EQ(original.get_value<int>("n"), 1);

    MapWrapper assigned;
    assigned.insert("old", "gone");
    assigned = original;
    EXPECT_FALSE(assigned.exists("old"));
    EXPECT_EQ(assigned.get_value<int>("n"), 1);

    MapWrapper moved(std::move(original));
    EXPECT_EQ(moved.get_value<int>("n"), 1);
    EXPECT_TRUE(original.empty());  // NOLINT(bugprone-use-after-move)
    original.insert<int>("again", 3);
    EXPECT_EQ(original.get_value<int>("again"), 3);

    MapWrapper target;
    target.insert("old", "gone");
    target = std::move(moved);
    EXPECT_FALSE(target.exists("old"));
    EXPECT_EQ(target.get_value<int>("n"), 1);
    EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move)

    target.swap(original);
    EXPECT_EQ(target.get_value<int>("again"), 3);
    EXPECT_EQ(original.get_value<int>("n"), 1);
}

MapWrapper holding_float(float value)
{
    MapWrapper map;
    map.insert("f", value);
    return map;
}

MapWrapper holding_double(double value)
{
    MapWrapper map;
    map.insert("d", value);
    return map;
}

TEST(MapWrapperTest, FloatingPointValuesAreEqualWithinOneMillionth)
{
    EXPECT_EQ(holding_float(0.1f), holding_float(0.1f + 5e-7f));
    EXPECT_NE(holding_float(0.1f), holding_float(0.1f + 2e-6f));
    EXPECT_EQ(holding_double(0.1), holding_double(0.1 + 5e-7));
    EXPECT_NE(holding_double(0.1), holding_double(0.1 + 2e-6));

    const MapWrapper nan = holding_float(std::numeric_limits<float>::quiet_NaN());
    EXPECT_NE(nan, holding_float(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_NE(nan, nan);
    EXPECT_NE(holding_double(std::nan("")), holding_double(std::nan("")));
}

TEST(MapWrapperTest, EqualityNeedsSameKeysTypesAndExactOtherValues)
{
    EXPECT_EQ(MapWrapper(), MapWrapper());

    MapWrapper as_int;
    as_int.insert<int>("k", 1);
    MapWrapper as_long;
    as_long.insert<long>("k", 1);
    EXPECT_NE(as_int, as_long);

    MapWrapper other_key;
    other_key.insert<int>("j", 1);
    EXPECT_NE(as_int, other_key);

    MapWrapper bigger(as_int);
    bigger.insert("extra", "x");
    EXPECT_NE(as_int, bigger);

    MapWrapper text_a;
    text_a.insert("k", "abc");
    MapWrapper text_b;
    text_b.insert("k", "abd");
    EXPECT_NE(text_a, text_b);
    EXPECT_EQ(text_a, MapWrapper(text_a));

    // A type outside the supported twelve never compares equal, even to itself.
    MapWrapper unsupported;
    unsupported.insert<long long>("k", 1);
    EXPECT_NE(unsupported, MapWrapper(unsupported));
}

TEST(MapWrapperTest, ValidateReportsAndOptionallyRemovesNonConformingEntries)
{
    MapWrapper map;
    map.insert("read_id", "r1");
    map.insert<float>("scale", 1.0f);
    map.insert<int>("unknown", 1);
    const MapWrapper::Schema schema{
            {"read_id", typeid(std::string)}, {"scale", typeid(double)}, {"absent", typeid(int)}};

    const MapWrapper::Schema expected{{"scale", typeid(float)}, {"unknown", typeid(int)}};
    EXPECT_EQ(map.validate(schema, false), expected);
    EXPECT_EQ(map.size(), 3u);

    EXPECT_EQ(map.validate({}, false).size(), 3u);

    EXPECT_EQ(map.validate(schema, true), expected);
    EXPECT_EQ(map.size(), 1u);
    EXPECT_TRUE(map.validate(schema, false).empty());
}

}  // namespace
}  // namespace vask::data_wrappers
