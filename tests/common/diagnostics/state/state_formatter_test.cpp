#include "common/diagnostics/state/state_formatter.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace common::diagnostics::state {
namespace {

using T = StateRecordType;

// The formatted text, or the failure's text when the formatter refuses the records.
template <typename Formatter>
std::string rendered(const std::vector<StateRecord>& records)
{
    std::string text =
            tamsu_test::exception_text<std::runtime_error>([&] { Formatter()(records); });
    return text == "<no exception>" ? Formatter()(records) : text;
}

TEST(StateFormatterTest, OddRecordListsInBothFormats)
{
    const std::string foreign =
            std::string("invalid type held as state record value: ") + typeid(float).name();
    const struct {
        std::vector<StateRecord> records;
        std::string json;
        std::string indented;
    } cases[] = {
            {{}, "\n{}", "\n"},
            {{{T::begin_section, "p", {}},
              {T::value, "b", true},
              {T::begin_section, "s", {}},
              {T::value, "r", 0.5},
              {T::end_section, "s", {}},
              {T::end_section, "p", {}}},
             "\n{\n    \"p\": {\n        \"b\": true,\n        \"s\": {\n            \"r\": 0.5\n"
             "        }\n    }\n}",
             "\np\n    b: true\n    s\n        r: 0.500000\n"},
            {{{T::end_section, "x", {}}},
             "malformed state_table",
             "Malformed StateTable detected while formatting."},
            {{{T::begin_section, "open", {}}, {T::value, "v", 1l}},
             "malformed state_table",
             "\nopen\n    v: 1\n"},
            {{{T::value, "a", 1l}, {T::value, "b", 2l}, {T::value, "a", std::string("again")}},
             "\n{\n    \"a\": \"again\",\n    \"b\": 2\n}",
             "\na: 1\nb: 2\na: again\n"},
            {{{T::value, "n", {}}}, "\n{\n    \"n\": null\n}", "\nn: \n"},
            {{{T::value, "f", 1.5f}}, foreign, foreign},
            {{{static_cast<T>(9), "skip", 1l}, {T::value, "k", 2ul}},
             "\n{\n    \"k\": 2\n}",
             "\nk: 2\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(rendered<JsonFormatter>(c.records), c.json);
        EXPECT_EQ(rendered<IndentationFormatter>(c.records), c.indented);
    }
}

}  // namespace
}  // namespace common::diagnostics::state
