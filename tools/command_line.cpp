#include "tools/command_line.h"

#include "program_support/number_parsing.h"
#include "tools/usage_error.h"

namespace tamsu_cli {

CommandLine::CommandLine(std::vector<Option> options, std::size_t max_positionals)
        : m_options(std::move(options))
        , m_max_positionals(max_positionals)
{
}

void CommandLine::parse(const std::vector<std::string>& arguments)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            m_help = true;
        } else if (argument.rfind("--", 0) == 0) {
            take_option(argument, arguments, i);
        } else if (argument.size() > 1 && argument[0] == '-') {
            throw UsageError("unknown option " + argument);
        } else if (m_positionals.size() < m_max_positionals) {
            m_positionals.push_back(argument);
        } else {
            throw UsageError("unexpected argument '" + argument + "'");
        }
    }
}

void CommandLine::take_option(const std::string& argument,
                              const std::vector<std::string>& arguments, std::size_t& index)
{
    const auto equals = argument.find('=');
    const auto name = argument.substr(2, equals == std::string::npos ? equals : equals - 2);
    const Option* option = find(name);
    if (option == nullptr) {
        throw UsageError("unknown option --" + name);
    }
    if (!option->takes_value) {
        if (equals != std::string::npos) {
            throw UsageError("--" + name + " takes no value");
        }
        m_values[name].push_back("true");
    } else if (equals != std::string::npos) {
        m_values[name].push_back(argument.substr(equals + 1));
    } else if (index + 1 < arguments.size()) {
        m_values[name].push_back(arguments[++index]);
    } else {
        throw UsageError("--" + name + " needs a value");
    }
}

const CommandLine::Option* CommandLine::find(const std::string& name) const
{
    for (const auto& option : m_options) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

bool CommandLine::has(const std::string& name) const
{
    return m_values.count(name) != 0;
}

std::string CommandLine::text(const std::string& name, const std::string& fallback) const
{
    const auto found = m_values.find(name);
    return found == m_values.end() ? fallback : found->second.back();
}

std::vector<std::string> CommandLine::texts(const std::string& name) const
{
    const auto found = m_values.find(name);
    return found == m_values.end() ? std::vector<std::string>() : found->second;
}

unsigned long CommandLine::number(const std::string& name, unsigned long fallback,
                                  unsigned long maximum, unsigned long minimum) const
{
    const auto found = m_values.find(name);
    if (found == m_values.end()) {
        return fallback;
    }
    const auto& value = found->second.back();
    const auto number = program_support::parse_whole_number(value, minimum, maximum);
    if (!number) {
        throw UsageError("--" + name + " needs a whole number from " + std::to_string(minimum) +
                         " to " + std::to_string(maximum) + ", not '" + value + "'");
    }
    return *number;
}

float CommandLine::fraction(const std::string& name, float fallback) const
{
    const auto found = m_values.find(name);
    if (found == m_values.end()) {
        return fallback;
    }
    const auto& value = found->second.back();
    const auto number = program_support::parse_fraction(value);
    if (!number) {
        throw UsageError("--" + name + " needs a number, not '" + value + "'");
    }
    return *number;
}

}  // namespace tamsu_cli
