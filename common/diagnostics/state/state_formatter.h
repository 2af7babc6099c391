#pragma once

#include "common/diagnostics/state/state_record.h"

#include <rapidjson/document.h>

#include <cstddef>
#include <string>
#include <vector>

namespace common::diagnostics::state {

// Pretty-printed JSON (four-space indent, members in record order) after a leading newline.
// Throws std::runtime_error for a record list whose sections do not match or for a value of
// another type than the five a StateLogger writes.
class JsonFormatter {
public:
    std::string operator()(const std::vector<StateRecord>& records) const;
};

// One line per value and section, four blanks of indent per level, after a leading newline.
// Throws std::runtime_error for a section closed that was never opened or an unknown value type.
class IndentationFormatter {
public:
    std::string operator()(const std::vector<StateRecord>& records) const;
};

// Fills `object` from records[start] on until the end_section that closes it; returns the
// index of that record (or the number of records when none closes it).
std::size_t read_section_to_json(rapidjson::Value& object,
                                 rapidjson::Document::AllocatorType& allocator,
                                 const std::vector<StateRecord>& records, std::size_t start);

}  // namespace common::diagnostics::state
