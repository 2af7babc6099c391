#include "common/diagnostics/state/state_formatter.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace common::diagnostics::state {
namespace {

using T = StateRecordType;

template <typename Formatter>
std::string failure(const std::vector<StateRecord>& records)
{
    return tamsu_test::exception_text<std::runtime_error>([&] { Formatter()(records); });
}

TEST(StateFormatterTest, UnmatchedSectionEndIsMalformedForBoth)
{
    const std::vector<StateRecord> records{{T::end_section, "x", {}}};

    EXPECT_EQ(failure<JsonFormatter>(records), "malformed state_table");
    EXPECT_EQ(failure<IndentationFormatter>(records),
              "Malformed StateTable detected while formatting.");
}

TEST(StateFormatterTest, UnclosedSectionIsRejectedOnlyByJson)
{
    const std::vector<StateRecord> records{{T::begin_section, "open", {}}, {T::value, "v", 1l}};

    EXPECT_EQ(failure<JsonFormatter>(records), "malformed state_table");
    EXPECT_EQ(IndentationFormatter()(records), "\nopen\n    v: 1\n");
}

TEST(StateFormatterTest, RepeatedNameReplacesTheValueWhereItStands)
{
    const std::vector<StateRecord> records{
            {T::value, "a", 1l}, {T::value, "b", 2l}, {T::value, "a", std::string("again")}};

    EXPECT_EQ(JsonFormatter()(records), "\n{\n    \"a\": \"again\",\n    \"b\": 2\n}");
}

TEST(StateFormatterTest, EmptyValuesAreNullAndForeignTypesRejected)
{
    EXPECT_EQ(JsonFormatter()({{T::value, "n", {}}}), "\n{\n    \"n\": null\n}");
    const std::vector<StateRecord> foreign{{T::value, "f", 1.5f}};
    const std::string prefix = "invalid type held as state record value: ";
    EXPECT_EQ(failure<JsonFormatter>(foreign), prefix + typeid(float).name());
    EXPECT_EQ(failure<IndentationFormatter>(foreign), prefix + typeid(float).name());
}

TEST(StateFormatterTest, UnknownRecordTypesAreSkipped)
{
    const std::vector<StateRecord> records{{static_cast<T>(9), "skip", 1l}, {T::value, "k", 2ul}};

    EXPECT_EQ(JsonFormatter()(records), "\n{\n    \"k\": 2\n}");
    EXPECT_EQ(IndentationFormatter()(records), "\nk: 2\n");
}

}  // namespace
}  // namespace common::diagnostics::state
