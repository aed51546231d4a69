#pragma once

// Text helpers that Foundation gave the original program for free.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ondaline::platform {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool isValidUTF8(std::span<const std::uint8_t> bytes);
bool isValidUTF8(std::string_view text);

// The bytes as text when they are valid UTF-8, otherwise absent.
std::optional<std::string> decodeUTF8(std::span<const std::uint8_t> bytes);

// `text` without the Unicode white space and line breaks at both ends
// (separators of category Z, U+0009 to U+000D and U+0085). Expects UTF-8.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

enum class LineBreaks { mark, keep };

// `text` with every control character but the tab replaced by a visible
// mark, so that what a file holds can neither drive a terminal nor start a
// line of its own: C0 by its picture (U+2400 to U+241F, "␛" for ESC), DEL
// by "␡", C1, U+2028, U+2029 and bytes that are not UTF-8 by U+FFFD. With
// `LineBreaks::keep` a line feed, and a carriage return before one, stay.
std::string withControlsShown(std::string_view text, LineBreaks lineBreaks = LineBreaks::mark);

// The same for a name that others choose, such as an application's: also
// every invisible format character (Unicode's category Cf: direction
// controls, zero-width characters, the soft hyphen, ...) by U+FFFD, so that
// a name can neither turn the text around it nor pass for another.
std::string withFormatCharactersShown(std::string_view text);

// The text with A–Z turned into a–z; other bytes as they are.
std::string asciiLowercase(std::string_view text);

}  // namespace ondaline::platform
