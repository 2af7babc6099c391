#pragma once

#include <optional>
#include <string>

// How the programs read numbers from their command lines: the whole text is the number, or it is
// refused. Each program words its own message for a refusal.
namespace program_support {

// Decimal digits only (no sign, no spaces, nothing after them) naming a number from `minimum` to
// `maximum`; empty otherwise, also when it does not fit.
std::optional<unsigned long> parse_whole_number(const std::string& text, unsigned long minimum,
                                                unsigned long maximum);

// A finite decimal fraction, a sign allowed, nothing before or after it; empty otherwise.
std::optional<float> parse_fraction(const std::string& text);

}  // namespace program_support
