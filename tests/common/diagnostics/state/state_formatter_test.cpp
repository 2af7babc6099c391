#include "common/diagnostics/state/state_formatter.h"

#include "support/exception_text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace common::diagnostics::state {
namespace {

using T = StateRecordType;

// Only the JSON form reaches hosts; the indented one serves test read-outs.
TEST(StateFormatterTest, OddRecordListsFormatAsJsonOrAreRefused)
{
    const struct {
        std::vector<StateRecord> records;
        std::string json;
    } cases[] = {
            {{}, "\n{}"},
            {{{T::begin_section, "p", {}},
              {T::value, "b", true},
              {T::begin_section, "s", {}},
              {T::value, "r", 0.5},
              {T::end_section, "s", {}},
              {T::end_section, "p", {}}},
             "\n{\n    \"p\": {\n        \"b\": true,\n        \"s\": {\n            \"r\": 0.5\n"
             "        }\n    }\n}"},
            {{{T::end_section, "x", {}}}, "malformed state_table"},
            {{{T::begin_section, "open", {}}, {T::value, "v", 1l}}, "malformed state_table"},
            {{{T::value, "a", 1l}, {T::value, "b", 2l}, {T::value, "a", std::string("again")}},
             "\n{\n    \"a\": \"again\",\n    \"b\": 2\n}"},
            {{{T::value, "n", {}}}, "\n{\n    \"n\": null\n}"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        std::string text =
                tamsu_test::exception_text<std::runtime_error>([&] { JsonFormatter()(c.records); });
        EXPECT_EQ(text == "<no exception>" ? JsonFormatter()(c.records) : text, c.json);
    }
}

}  // namespace
}  // namespace common::diagnostics::state
