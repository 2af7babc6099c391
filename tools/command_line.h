#pragma once

#include <map>
#include <string>
#include <vector>

namespace tamsu_cli {

// The options of one command and the values given for them. Accepts "--name value",
// "--name=value" and bare "--name" switches; "-" and anything not starting with "--" is a
// positional argument. "--help" and "-h" are always known. Errors throw UsageError.
class CommandLine {
public:
    struct Option {
        std::string name;  // without the leading dashes
        bool takes_value = false;
    };

    CommandLine(std::vector<Option> options, std::size_t max_positionals);

    void parse(const std::vector<std::string>& arguments);

    bool help_requested() const { return m_help; }
    const std::vector<std::string>& positionals() const { return m_positionals; }

    // Whether the option was given (switch or value).
    bool has(const std::string& name) const;
    // The last value given for the option.
    std::string text(const std::string& name, const std::string& fallback = {}) const;
    // Every value given for the option, in order.
    std::vector<std::string> texts(const std::string& name) const;
    // A decimal number from `minimum` to `maximum`.
    unsigned long number(const std::string& name, unsigned long fallback, unsigned long maximum,
                         unsigned long minimum = 0) const;
    // A finite decimal fraction.
    float fraction(const std::string& name, float fallback) const;

private:
    const Option* find(const std::string& name) const;
    void take_option(const std::string& argument, const std::vector<std::string>& arguments,
                     std::size_t& index);

    std::vector<Option> m_options;
    std::size_t m_max_positionals;
    bool m_help = false;
    std::map<std::string, std::vector<std::string>> m_values;
    std::vector<std::string> m_positionals;
};

}  // namespace tamsu_cli
