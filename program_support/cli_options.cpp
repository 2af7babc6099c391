#include "program_support/cli_options.h"

namespace program_support {

void set_conventions(CLI::App& app)
{
    // As before CLI11: a repeated option overrides the earlier value (a script may append one).
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.get_formatter()->column_width(32);
}

bool parse_command_line(CLI::App& app, const std::vector<std::string>& arguments)
{
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::Success&) {  // --help
        return false;
    }
    return true;
}

unsigned long whole_number(const std::string& flag, const std::string& text, unsigned long minimum,
                           unsigned long maximum)
{
    const auto number = parse_whole_number(text, minimum, maximum);
    if (!number) {
        throw CLI::ValidationError(flag + " needs a whole number from " + std::to_string(minimum) +
                                   " to " + std::to_string(maximum) + ", not '" + text + "'");
    }
    return *number;
}

float fraction(const std::string& flag, const std::string& text)
{
    const auto number = parse_fraction(text);
    if (!number) {
        throw CLI::ValidationError(flag + " needs a number, not '" + text + "'");
    }
    return *number;
}

}  // namespace program_support
