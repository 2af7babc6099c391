#pragma once

#include <boost/any.hpp>

#include <cstdint>
#include <string>

namespace common::diagnostics::state {

enum class StateRecordType : std::int32_t {
    value = 0,
    begin_section = 1,
    end_section = 2,
};

// One entry of a state report: a named value, or the start or end of a named section. Values
// hold std::string, bool, long, unsigned long or double; section records hold nothing.
struct StateRecord {
    StateRecordType type = StateRecordType::value;
    std::string name;
    boost::any value;
};

}  // namespace common::diagnostics::state
