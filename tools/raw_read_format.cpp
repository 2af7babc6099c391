#include "tools/raw_read_format.h"

#include "tools/tab_separated.h"

#include "tools/input_error.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace tamsu_cli {

namespace {

float parse_float(const std::string& text, const char* what)
{
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) {
        throw InputError(std::string(what) + " '" + text + "' is not a finite number");
    }
    return value;
}

// Signals run to millions of samples: parse in place, without a string per sample.
std::vector<std::int16_t> parse_samples(std::string_view text)
{
    std::vector<std::int16_t> samples;
    samples.reserve(text.size() / 4 + 1);
    const char* position = text.data();
    const char* const end = position + text.size();
    while (true) {
        int value = 0;
        const auto parsed = std::from_chars(position, end, value);
        if (parsed.ec != std::errc() || value < std::numeric_limits<std::int16_t>::min() ||
            value > std::numeric_limits<std::int16_t>::max()) {
            throw InputError("sample " + std::to_string(samples.size() + 1) +
                             " is not an integer from -32768 to 32767");
        }
        samples.push_back(static_cast<std::int16_t>(value));
        if (parsed.ptr == end) {
            return samples;
        }
        if (*parsed.ptr != ',') {
            throw InputError("samples must be separated by commas (after sample " +
                             std::to_string(samples.size()) + ")");
        }
        position = parsed.ptr + 1;
    }
}

}  // namespace

bool RawReadFormat::is_skippable(const std::string& line)
{
    const auto first = line.find_first_not_of(" \t\r");
    return first == std::string::npos || line[first] == '#';
}

RawRead RawReadFormat::parse(const std::string& line)
{
    std::string_view content = line;
    if (!content.empty() && content.back() == '\r') {
        content.remove_suffix(1);
    }
    const auto fields = split_fields(content);
    if (fields.size() != 4) {
        throw InputError("expected 4 tab-separated fields (read id, DAQ offset, DAQ scaling, "
                         "samples), found " +
                         std::to_string(fields.size()));
    }
    const auto id_problem = read_id_problem(fields[0]);
    if (!id_problem.empty()) {
        throw InputError(id_problem);
    }
    if (fields[0].find(' ') != std::string_view::npos) {
        throw InputError("the read id must be without blanks");
    }
    RawRead read;
    read.read_id = std::string(fields[0]);
    read.daq_offset = parse_float(std::string(fields[1]), "DAQ offset");
    read.daq_scaling = parse_float(std::string(fields[2]), "DAQ scaling");
    read.samples = parse_samples(fields[3]);
    return read;
}

std::string RawReadFormat::format(const RawRead& read)
{
    std::string line = read.read_id;
    char number[64];
    // %.9g keeps every float exactly, so a written read parses back unchanged.
    std::snprintf(number, sizeof(number), "\t%.9g\t%.9g\t", static_cast<double>(read.daq_offset),
                  static_cast<double>(read.daq_scaling));
    line += number;
    line.reserve(line.size() + read.samples.size() * 5);
    for (std::size_t i = 0; i < read.samples.size(); ++i) {
        if (i != 0) {
            line += ',';
        }
        const auto written = std::to_chars(number, number + sizeof(number), read.samples[i]);
        line.append(number, written.ptr);
    }
    return line;
}

}  // namespace tamsu_cli
