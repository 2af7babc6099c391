#pragma once

#include "program_support/number_parsing.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

// How the programs read their command lines with CLI11: numbers through the strict parsing of
// number_parsing.h (CLI11's own takes "-1", octal and hexadecimal), the last of a repeated option
// wins, and a command line CLI11 refuses throws CLI::ParseError with a message naming the option.
namespace program_support {

// The programs' conventions for `app`; call before adding options.
void set_conventions(CLI::App& app);

// Parses `arguments` (without the program's name) into the options of `app`. Returns false when
// help was asked for. Throws CLI::ParseError when the command line cannot be used.
bool parse_command_line(CLI::App& app, const std::vector<std::string>& arguments);

// `text` as a whole number from `minimum` to `maximum`; throws CLI::ValidationError naming `flag`.
unsigned long whole_number(const std::string& flag, const std::string& text, unsigned long minimum,
                           unsigned long maximum);
// `text` as a finite decimal fraction; throws CLI::ValidationError naming `flag`.
float fraction(const std::string& flag, const std::string& text);

// A command line read into `Options`, whose `describe(CLI::App&)` adds its options and help text,
// or none when help was asked for (then written to `help_out`). Throws CLI::ParseError.
template <typename Options>
std::optional<Options> parse_options(const std::string& program,
                                     const std::vector<std::string>& arguments,
                                     std::ostream& help_out)
{
    Options options;
    CLI::App app("", program);
    set_conventions(app);
    options.describe(app);
    if (!parse_command_line(app, arguments)) {
        help_out << app.help();
        return std::nullopt;
    }
    return options;
}

// The help text of `Options` (see parse_options).
template <typename Options>
std::string usage_of(const std::string& program)
{
    std::ostringstream help;
    parse_options<Options>(program, {"--help"}, help);
    return help.str();
}

// Adds `flag` taking a whole number from `minimum` to `maximum`, stored in `target` (a number,
// a std::optional of one or a std::chrono::duration) when the command line is parsed.
template <typename Target>
CLI::Option* add_whole_number(CLI::App& app, const std::string& flag, Target& target,
                              unsigned long minimum, unsigned long maximum,
                              const std::string& description)
{
    const auto store = [&target, flag, minimum, maximum](const std::string& text) {
        target = Target(whole_number(flag, text, minimum, maximum));
    };
    return app.add_option_function<std::string>(flag, store, description)->type_name("N");
}

// Adds `flag` taking a finite decimal fraction, stored in `target` when the command line is parsed.
inline CLI::Option* add_fraction(CLI::App& app, const std::string& flag,
                                 std::optional<float>& target, const std::string& description)
{
    const auto store = [&target, flag](const std::string& text) { target = fraction(flag, text); };
    return app.add_option_function<std::string>(flag, store, description)->type_name("SCORE");
}

}  // namespace program_support
