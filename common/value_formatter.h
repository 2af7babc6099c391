#pragma once

#include <boost/any.hpp>

#include <string>

namespace common {

// Turns scalar and text values into text with configurable special cases. Immutable after
// construction, so one instance may be shared between threads.
class ValueFormatter {
public:
    // A precision below 0 prints floating-point values with "%f"; 0 or more uses a string
    // stream with that precision (fixed notation when `fixed_notation`). An empty NaN or
    // infinity text leaves those values to the normal formatting; an empty true/false text
    // falls back to 1/0.
    ValueFormatter(int float_precision, int double_precision, std::string nan_text,
                   std::string positive_infinity_text, std::string negative_infinity_text,
                   std::string empty_text_replacement, std::string true_text,
                   std::string false_text, bool fixed_notation);
    virtual ~ValueFormatter();

    std::string format(const std::string& value) const;
    std::string format(bool value) const;
    std::string format(signed char value) const;
    std::string format(unsigned char value) const;
    std::string format(short value) const;
    std::string format(unsigned short value) const;
    std::string format(int value) const;
    std::string format(unsigned int value) const;
    std::string format(long value) const;
    std::string format(unsigned long value) const;
    std::string format(float value) const;
    std::string format(double value) const;

    // Dispatches on the held type; "unsupported_type" for anything but the twelve above.
    std::string format_any(const boost::any& value) const;

private:
    template <typename T>
    std::string format_floating_point(T value, int precision) const;

    int m_float_precision;
    int m_double_precision;
    std::string m_nan_text;
    std::string m_positive_infinity_text;
    std::string m_negative_infinity_text;
    std::string m_empty_text_replacement;
    std::string m_true_text;
    std::string m_false_text;
    bool m_fixed_notation;
};

}  // namespace common
