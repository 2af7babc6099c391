#include "ipc_tools/connection_info.h"

#include "common/make_canonical_path.h"

#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace ipc_tools {

namespace cs = connection_string;

namespace {

// Renders option values the way the server reads them back.
class OptionWriter {
public:
    explicit OptionWriter(std::ostringstream& out)
            : m_out(out)
    {
        m_out << std::setprecision(7);
    }

    template <typename T>
    void write(const char* key, const T& value)
    {
        m_out << '>' << key << '=' << value;
    }

    void write(const char* key, bool value)
    {
        write(key, value ? cs::VALUE_TRUE : cs::VALUE_FALSE);
    }

    template <typename T>
    void write_if_set(const char* key, const boost::optional<T>& value)
    {
        if (value) {
            write(key, *value);
        }
    }

private:
    std::ostringstream& m_out;
};

void write_barcoding_options(OptionWriter& writer, const interfaces::BarcodingOptions& options)
{
    using namespace interfaces;
    writer.write_if_set(PARAM_BARCODE_REQUIRE_BOTH_ENDS, options.m_require_both_ends);
    writer.write_if_set(PARAM_BARCODE_DETECT_MID_STRAND_ADAPTER,
                        options.m_detect_mid_strand_adapter);
    writer.write_if_set(PARAM_BARCODE_DETECT_MID_STRAND_BARCODES,
                        options.m_detect_mid_strand_barcodes);
    writer.write_if_set(PARAM_BARCODE_MIN_SCORE, options.m_min_score);
    writer.write_if_set(PARAM_BARCODE_MIN_SCORE_REAR_OVERRIDE, options.m_min_score_rear_override);
    writer.write_if_set(PARAM_BARCODE_MIN_SCORE_MASK, options.m_min_score_mask);
    writer.write_if_set(PARAM_BARCODE_MIN_SCORE_MID, options.m_min_score_mid_barcodes);
    writer.write_if_set(PARAM_BARCODE_LAMP_KIT, options.m_lamp_kit);
    writer.write_if_set(PARAM_BARCODE_MIN_SCORE_LAMP, options.m_min_score_lamp);
    writer.write_if_set(PARAM_BARCODE_MIN_SCORE_LAMP_MASK, options.m_min_score_lamp_mask);
    writer.write_if_set(PARAM_BARCODE_MIN_SCORE_LAMP_TARGET, options.m_min_score_lamp_target);
    writer.write_if_set(PARAM_BARCODE_ADDITIONAL_CONTEXT_BASES, options.m_additional_context_bases);
    writer.write_if_set(PARAM_BARCODE_MIN_LENGTH_LAMP_CONTEXT, options.m_min_length_lamp_context);
    writer.write_if_set(PARAM_BARCODE_MIN_LENGTH_LAMP_TARGET, options.m_min_length_lamp_target);
}

using KeyValues = std::map<std::string, std::string>;

// A missing key leaves `out` unset and is not an error.
template <typename T>
bool parse_value(const KeyValues& values, const char* key, boost::optional<T>& out)
{
    const auto found = values.find(key);
    if (found == values.end()) {
        return true;
    }
    T value{};
    if (!cs::parse_value(found->second, value)) {
        return false;
    }
    out = value;
    return true;
}

template <>
bool parse_value(const KeyValues& values, const char* key, boost::optional<bool>& out)
{
    const auto found = values.find(key);
    if (found == values.end()) {
        return true;
    }
    if (found->second != cs::VALUE_TRUE && found->second != cs::VALUE_FALSE) {
        return false;
    }
    out = found->second == cs::VALUE_TRUE;
    return true;
}

template <>
bool parse_value(const KeyValues& values, const char* key, boost::optional<std::string>& out)
{
    const auto found = values.find(key);
    if (found != values.end()) {
        out = found->second;
    }
    return true;
}

bool read_barcoding_options(const KeyValues& values, interfaces::BarcodingOptions& options)
{
    using namespace interfaces;
    return parse_value(values, PARAM_BARCODE_REQUIRE_BOTH_ENDS, options.m_require_both_ends) &&
           parse_value(values, PARAM_BARCODE_MIN_SCORE, options.m_min_score) &&
           parse_value(values, PARAM_BARCODE_MIN_SCORE_REAR_OVERRIDE,
                       options.m_min_score_rear_override) &&
           parse_value(values, PARAM_BARCODE_MIN_SCORE_MASK, options.m_min_score_mask) &&
           parse_value(values, PARAM_BARCODE_DETECT_MID_STRAND_BARCODES,
                       options.m_detect_mid_strand_barcodes) &&
           parse_value(values, PARAM_BARCODE_MIN_SCORE_MID, options.m_min_score_mid_barcodes) &&
           parse_value(values, PARAM_BARCODE_LAMP_KIT, options.m_lamp_kit) &&
           parse_value(values, PARAM_BARCODE_MIN_SCORE_LAMP, options.m_min_score_lamp) &&
           parse_value(values, PARAM_BARCODE_MIN_SCORE_LAMP_MASK, options.m_min_score_lamp_mask) &&
           parse_value(values, PARAM_BARCODE_MIN_SCORE_LAMP_TARGET,
                       options.m_min_score_lamp_target) &&
           parse_value(values, PARAM_BARCODE_ADDITIONAL_CONTEXT_BASES,
                       options.m_additional_context_bases) &&
           parse_value(values, PARAM_BARCODE_MIN_LENGTH_LAMP_CONTEXT,
                       options.m_min_length_lamp_context) &&
           parse_value(values, PARAM_BARCODE_MIN_LENGTH_LAMP_TARGET,
                       options.m_min_length_lamp_target) &&
           parse_value(values, PARAM_BARCODE_DETECT_MID_STRAND_ADAPTER,
                       options.m_detect_mid_strand_adapter);
}

bool read_options_field(const std::string& field, ConnectionInfo& info)
{
    const auto [split, values] = cs::get_kvps(field);
    if (!split) {
        return false;
    }
    boost::optional<std::string> client_name;
    boost::optional<std::string> alignment_type;
    if (!parse_value(values, cs::KEY_CLIENT_NAME, client_name) ||
        !parse_value(values, cs::KEY_ALIGNMENT_TYPE, alignment_type) ||
        !read_barcoding_options(values, info.m_barcoding_options) ||
        !cs::parse_value(values.at(cs::KEY_CONNECTION_CLIENT_TIMEOUT), info.m_timeout_interval)) {
        return false;
    }
    info.m_client_name = client_name.value_or("");
    info.m_alignment_type = alignment_type.value_or("");
    return true;
}

}  // namespace

std::string ConnectionInfo::build_connection_string()
{
    m_alignment_index = common::make_canonical_path(m_alignment_index);
    m_bed_file = common::make_canonical_path(m_bed_file);

    std::ostringstream out;
    out << m_config_name << ':';
    OptionWriter options(out);
    options.write(cs::KEY_CONNECTION_CLIENT_TIMEOUT, m_timeout_interval);
    options.write(cs::KEY_CLIENT_NAME, m_client_name);
    options.write(cs::KEY_ALIGNMENT_TYPE, m_alignment_type);
    write_barcoding_options(options, m_barcoding_options);
    out << ':';
    if (!m_barcode_kits.empty()) {
        const bool trim = m_barcoding_options.m_trim_barcodes.value_or(false);
        out << m_barcode_kits << ':' << (trim ? cs::VALUE_TRUE : cs::VALUE_FALSE) << ':';
    } else {
        out << "::";
    }
    out << m_alignment_index;
    if (!m_alignment_index.empty() && !m_bed_file.empty()) {
        out << ';' << m_bed_file;
    }
    return out.str();
}

std::pair<bool, ConnectionInfo> ConnectionInfo::parse(const std::string& text, std::string& error)
{
    ConnectionInfo info;
    std::istringstream in(text);
    std::getline(in, info.m_config_name, ':');
    std::string field;
    std::getline(in, field, ':');
    if (!field.empty() && field.front() == '>') {
        if (!read_options_field(field, info)) {
            error = "Failed to parse barcoding options in connection string: " + field;
            return {false, info};
        }
        std::getline(in, info.m_barcode_kits, ':');
    } else {
        info.m_barcode_kits = field;
    }
    if (info.m_alignment_type.empty()) {
        info.m_alignment_type = "auto";
    }
    std::string trim;
    std::getline(in, trim, ':');
    info.m_barcoding_options.m_trim_barcodes = trim == cs::VALUE_TRUE;
    std::getline(in, info.m_alignment_index, ';');
    std::getline(in, info.m_bed_file);
    error.clear();
    return {true, info};
}

namespace connection_string {

std::pair<bool, std::map<std::string, std::string>> get_kvps(const std::string& text)
{
    std::map<std::string, std::string> values;
    if (text.empty()) {
        return {true, values};
    }
    if (text.front() != '>' || text.find('=') == std::string::npos) {
        return {false, {}};
    }
    std::size_t begin = 1;
    while (begin <= text.size()) {
        auto end = text.find('>', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        const auto piece = text.substr(begin, end - begin);
        const auto equals = piece.find('=');
        if (equals == std::string::npos || equals == 0) {
            return {false, {}};
        }
        values[piece.substr(0, equals)] = piece.substr(equals + 1);
        begin = end + 1;
    }
    return {true, values};
}

template <typename T>
bool parse_value(const std::string& text, T& out)
{
    std::istringstream in(text);
    in >> out;
    return !in.fail() && !in.bad();
}

template bool parse_value<float>(const std::string&, float&);
template bool parse_value<unsigned long>(const std::string&, unsigned long&);
template bool parse_value<unsigned int>(const std::string&, unsigned int&);

}  // namespace connection_string

}  // namespace ipc_tools
