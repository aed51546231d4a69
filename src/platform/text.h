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

// The text with A–Z turned into a–z; other bytes as they are.
std::string asciiLowercase(std::string_view text);

}  // namespace ondaline::platform
