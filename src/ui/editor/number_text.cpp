#include "ui/editor/number_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace ondaline::editor {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips a run of digits starting at `i` and tells how many there were.
std::size_t skipDigits(std::string_view text, std::size_t& i)
{
    const std::size_t start = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    return i - start;
}

// from_chars takes a leading "-" but not "+"; the sign is checked here so
// that "+-1" cannot slip through once the "+" is dropped.
std::string_view withoutPlus(std::string_view text)
{
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    return text;
}

bool isDecimalNumber(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = skipDigits(text, i);
    if (i < text.size() && text[i] == '.') {
        ++i;
        digits += skipDigits(text, i);
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (skipDigits(text, i) == 0) return false;
    }
    return i == text.size();
}

}  // namespace

std::optional<double> parseFontSize(std::string_view text)
{
    if (!isDecimalNumber(text)) return std::nullopt;
    const std::string_view number = withoutPlus(text);
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    std::size_t i = (!text.empty() && (text.front() == '+' || text.front() == '-')) ? 1 : 0;
    if (skipDigits(text, i) == 0 || i != text.size()) return std::nullopt;
    const std::string_view number = withoutPlus(text);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
    return value;
}

std::string shortestNumberText(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string wholeNumberText(double value)
{
    if (!std::isfinite(value)) return "0";
    double whole = std::trunc(value);
    if (whole == 0) whole = 0;  // -0.4 shows "0", not "-0"
    // Fixed notation writes every digit of even the largest double (309).
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, whole, std::chars_format::fixed, 0);
    return std::string(buffer, result.ptr);
}

std::string oneDecimalText(double value)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return std::string(buffer, result.ptr);
}

}  // namespace ondaline::editor
