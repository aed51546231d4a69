#pragma once

// Numbers typed into the editor's fields and shown in its value labels. All
// of it ignores the user's locale: a point is always the decimal separator.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ondaline::editor {

// The whole text as a finite decimal number: optional sign, digits with an
// optional fraction, optional exponent ("24", "+24", "24.5", "2.4e1").
// Nothing is trimmed; "nan", "inf", hexadecimal and overflowing text are not
// numbers.
std::optional<double> parseFontSize(std::string_view text);

// The whole text as an optional sign and decimal digits that fit 64 bits.
std::optional<std::int64_t> parseInteger(std::string_view text);

// The shortest text that parseFontSize reads back as exactly `value`
// ("24", "24.7", "1e+20") for a finite value.
std::string shortestNumberText(double value);

// The integer part (truncated toward zero) in plain decimal, "-" for
// negatives, no grouping. A value that is not finite shows "0".
std::string wholeNumberText(double value);

// The value rounded to one decimal, like "%.1f" in the C locale.
std::string oneDecimalText(double value);

}  // namespace ondaline::editor
