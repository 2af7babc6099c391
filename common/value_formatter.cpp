#include "common/value_formatter.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <sstream>
#include <utility>
#include <vector>

namespace common {

namespace {

__attribute__((format(printf, 1, 2))) std::string print(const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(arguments);
    return text;
}

template <typename T>
bool holds(const boost::any& value)
{
    return value.type() == typeid(T);
}

}  // namespace

ValueFormatter::ValueFormatter(int float_precision, int double_precision, std::string nan_text,
                               std::string positive_infinity_text,
                               std::string negative_infinity_text,
                               std::string empty_text_replacement, std::string true_text,
                               std::string false_text, bool fixed_notation)
        : m_float_precision(float_precision)
        , m_double_precision(double_precision)
        , m_nan_text(std::move(nan_text))
        , m_positive_infinity_text(std::move(positive_infinity_text))
        , m_negative_infinity_text(std::move(negative_infinity_text))
        , m_empty_text_replacement(std::move(empty_text_replacement))
        , m_true_text(std::move(true_text))
        , m_false_text(std::move(false_text))
        , m_fixed_notation(fixed_notation)
{
}

ValueFormatter::~ValueFormatter() = default;

std::string ValueFormatter::format(const std::string& value) const
{
    return value.empty() ? m_empty_text_replacement : value;
}

std::string ValueFormatter::format(bool value) const
{
    const std::string& text = value ? m_true_text : m_false_text;
    if (text.empty()) {
        return value ? "1" : "0";
    }
    return text;
}

// One-byte values go through "%d" so they read as numbers, never as characters.
std::string ValueFormatter::format(signed char value) const
{
    return print("%d", static_cast<int>(value));
}

std::string ValueFormatter::format(unsigned char value) const
{
    return print("%d", static_cast<int>(value));
}

std::string ValueFormatter::format(short value) const
{
    return print("%d", static_cast<int>(value));
}

std::string ValueFormatter::format(unsigned short value) const
{
    return print("%d", static_cast<int>(value));
}

std::string ValueFormatter::format(int value) const
{
    return print("%d", value);
}

std::string ValueFormatter::format(unsigned int value) const
{
    return print("%u", value);
}

std::string ValueFormatter::format(long value) const
{
    return print("%ld", value);
}

std::string ValueFormatter::format(unsigned long value) const
{
    return print("%lu", value);
}

std::string ValueFormatter::format(float value) const
{
    return format_floating_point(value, m_float_precision);
}

std::string ValueFormatter::format(double value) const
{
    return format_floating_point(value, m_double_precision);
}

template <typename T>
std::string ValueFormatter::format_floating_point(T value, int precision) const
{
    if (std::isnan(value) && !m_nan_text.empty()) {
        return m_nan_text;
    }
    if (value > std::numeric_limits<T>::max() && !m_positive_infinity_text.empty()) {
        return m_positive_infinity_text;
    }
    if (value < std::numeric_limits<T>::lowest() && !m_negative_infinity_text.empty()) {
        return m_negative_infinity_text;
    }
    if (precision < 0) {
        return print("%f", static_cast<double>(value));
    }
    std::ostringstream stream;
    stream.precision(precision);
    if (m_fixed_notation) {
        stream << std::fixed;
    }
    stream << value;
    return stream.str();
}

std::string ValueFormatter::format_any(const boost::any& value) const
{
    if (holds<std::string>(value)) {
        return format(boost::any_cast<const std::string&>(value));
    }
    if (holds<bool>(value)) {
        return format(boost::any_cast<bool>(value));
    }
    if (holds<signed char>(value)) {
        return format(boost::any_cast<signed char>(value));
    }
    if (holds<unsigned char>(value)) {
        return format(boost::any_cast<unsigned char>(value));
    }
    if (holds<short>(value)) {
        return format(boost::any_cast<short>(value));
    }
    if (holds<unsigned short>(value)) {
        return format(boost::any_cast<unsigned short>(value));
    }
    if (holds<int>(value)) {
        return format(boost::any_cast<int>(value));
    }
    if (holds<unsigned int>(value)) {
        return format(boost::any_cast<unsigned int>(value));
    }
    if (holds<long>(value)) {
        return format(boost::any_cast<long>(value));
    }
    if (holds<unsigned long>(value)) {
        return format(boost::any_cast<unsigned long>(value));
    }
    if (holds<float>(value)) {
        return format(boost::any_cast<float>(value));
    }
    if (holds<double>(value)) {
        return format(boost::any_cast<double>(value));
    }
    return "unsupported_type";
}

}  // namespace common
