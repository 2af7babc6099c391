#include "tools/modification_tags.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace tamsu_cli {
namespace {

// Each modification letter and its canonical base, "letter:base" separated by blanks.
std::string mapping(const std::string& alphabet, const std::string& long_names)
{
    std::string text;
    for (const auto& code : ModificationTags::codes(alphabet, long_names)) {
        text += (text.empty() ? "" : " ") + std::string{code.letter, ':', code.canonical};
    }
    return text;
}

TEST(ModificationTagsTest, MapsLettersByTheCodeTableThenTheLongNameAndRefusesTheRest)
{
    const struct {
        const char* alphabet;
        const char* long_names;
        const char* expected;  // empty: refused
    } cases[] = {
            {"ACGTm", "5mC", "m:C"},
            {"ACGTmh", "5mC 5hmC", "m:C h:C"},
            {"AaCGoTb", "6mA 8oxoG 5caU", "a:A o:G b:T"},
            {"ACGTZ", "6mA", "Z:A"},
            {"ACGT", "", ""},
            {"ACGTx", "xyz", nullptr},
            {"ACGTmx", "5mC", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.alphabet);
        if (c.expected == nullptr) {
            EXPECT_THROW(mapping(c.alphabet, c.long_names), std::invalid_argument);
        } else {
            EXPECT_EQ(mapping(c.alphabet, c.long_names), c.expected);
        }
    }
    try {
        mapping("ACGTx", "xyz");
    } catch (const std::invalid_argument& error) {
        EXPECT_THAT(error.what(), testing::HasSubstr("modification 'x' (long name 'xyz')"));
    }
}

// Every canonical base is listed in read order, with the probability of its own letter's column.
TEST(ModificationTagsTest, ListsEachCanonicalBaseWithItsProbability)
{
    // Columns A C m G T: the alphabet need not keep the canonical bases first.
    const std::vector<std::uint8_t> probabilities = {
            0,   200, 55,  0,   0,  // C
            255, 0,   0,   0,   0,  // A
            0,   0,   7,   255, 0,  // G: a value under m that is not a C's is not listed
            0,   100, 155, 0,   0,  // C
    };
    const ModificationTags tags(ModificationTags::codes("ACmGT", "5mC"), "CAGC", probabilities, 5);
    EXPECT_EQ(tags.mm(), "C+m?,0,0;");
    EXPECT_EQ(tags.ml(), (std::vector<std::uint8_t>{55, 155}));
}

}  // namespace
}  // namespace tamsu_cli
