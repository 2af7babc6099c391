#pragma once

#include "vask/util/tamsu_export.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace tamsu {

// Outcome of every public operation. The numbers are part of the interface.
enum class Result : std::int32_t {
    success = 0,
    no_connection = 1,
    already_connected = 2,
    not_ready = 3,
    timed_out = 4,
    invalid_response = 5,
    basecall_config_unavailable = 6,
    barcode_kit_unavailable = 7,
    align_index_unavailable = 8,
    bed_file_unavailable = 9,
    align_index_no_seq = 10,
    file_load_timeout = 11,
    failed = 12,
    bad_request = 13,
    bad_reply = 14,
};

// Where a client's connection stands.
enum class ConnectionStatus : std::int32_t {
    disconnected = 0,
    preparing_connection = 1,
    loading_config = 2,
    loading_alignment_index = 3,
    loading_bed_file = 4,
    connecting = 5,
    connected = 6,
    error = 7,
};

// Outcome of handing a read to a client.
enum class PassReadResult : std::int32_t {
    success = 0,
    not_accepting_reads = 1,
    queue_full = 2,
    invalid_read = 3,
};

// The enumerator's name. Values outside the enumeration throw std::runtime_error with a text
// beginning "unrecognised". Pure and thread-safe, like the stream operators, which write
// exactly the same text.
TAMSU_EXPORT std::string to_string(Result result);
TAMSU_EXPORT std::string to_string(ConnectionStatus status);
TAMSU_EXPORT std::string to_string(PassReadResult result);

TAMSU_EXPORT std::ostream& operator<<(std::ostream& stream, Result result);
TAMSU_EXPORT std::ostream& operator<<(std::ostream& stream, ConnectionStatus status);
TAMSU_EXPORT std::ostream& operator<<(std::ostream& stream, PassReadResult result);

}  // namespace tamsu
