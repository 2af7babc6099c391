#pragma once

#include "interfaces/barcoding_options.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace ipc_tools {

// Everything the server needs to know about a client besides its address; travels as the
// connection string in the CONNECT request. A plain value type.
struct ConnectionInfo {
    std::string m_config_name;
    std::string m_client_name;
    std::string m_barcode_kits;  // kit names as one text; the server splits it
    std::string m_alignment_index;
    std::string m_bed_file;
    std::string m_alignment_type;
    std::uint32_t m_priority = 2;  // 0 is the highest
    interfaces::BarcodingOptions m_barcoding_options;
    std::uint32_t m_timeout_interval = 0;  // milliseconds

    // Makes the index and BED paths canonical (changing this object), then returns the
    // connection string. Throws when a non-empty path cannot be made canonical.
    std::string build_connection_string();

    // The inverse of build_connection_string. On failure returns false and says why in
    // `error`; throws std::out_of_range when the options field lacks "timeout_interval".
    static std::pair<bool, ConnectionInfo> parse(const std::string& text, std::string& error);
};

namespace connection_string {

constexpr const char* KEY_CONNECTION_CLIENT_TIMEOUT = "timeout_interval";
constexpr const char* KEY_CLIENT_NAME = "client_name";
constexpr const char* KEY_ALIGNMENT_TYPE = "alignment_type";
constexpr const char* VALUE_TRUE = "true";
constexpr const char* VALUE_FALSE = "false";

// Splits an options field (">key=value>key=value") into its keys and values.
std::pair<bool, std::map<std::string, std::string>> get_kvps(const std::string& text);

// Reads a number with a string stream; trailing characters are ignored.
template <typename T>
bool parse_value(const std::string& text, T& out);

}  // namespace connection_string

}  // namespace ipc_tools
