#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace basecall_service {

// Where an engine's connection stands.
enum class ClientStatus : std::int32_t {
    disconnected = 0,
    preparing_connection = 1,
    loading_config = 2,
    loading_alignment_index = 3,
    loading_bed_file = 4,
    connecting = 5,
    connected = 6,
    error = 7,
};

// Why the engine failed.
enum class ConnectionError : std::int32_t {
    no_error = 0,
    bad_request = 1,
    bad_reply = 2,
    timed_out = 3,
    invalid_response = 4,
    basecall_config_unavailable = 5,
    barcode_kit_unavailable = 6,
    align_index_unavailable = 7,
    bed_file_unavailable = 8,
    align_index_no_seq = 9,
    file_load_timeout = 10,
    failed = 11,
};

// How the engine's parts hand failures to each other.
struct ErrorState {
    ConnectionError code = ConnectionError::no_error;
    std::string message;
};

// Out-of-range values throw std::runtime_error ("unrecognised ... value").
std::string to_string(ClientStatus status);
std::string to_string(ConnectionError error);
// "[code] message"
std::string to_string(const ErrorState& state);

std::ostream& operator<<(std::ostream& stream, ClientStatus status);
std::ostream& operator<<(std::ostream& stream, ConnectionError error);
std::ostream& operator<<(std::ostream& stream, const ErrorState& state);

}  // namespace basecall_service
