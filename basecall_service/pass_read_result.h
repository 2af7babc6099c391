#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace basecall_service {

// The engine's answer to a read handed in; the public result shares these numbers.
enum class PassReadResult : std::int32_t {
    success = 0,
    not_accepting_reads = 1,
    queue_full = 2,
    invalid_read = 3,  // a read with the same tag is in flight
};

// Throws std::runtime_error "unrecognised PassReadResult" for other values.
std::string to_string(PassReadResult result);
std::ostream& operator<<(std::ostream& stream, PassReadResult result);

}  // namespace basecall_service
