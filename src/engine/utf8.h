#pragma once

#include <optional>
#include <string>

#include "engine/bytes.h"

namespace ondaline {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool isValidUTF8(ByteView bytes);

// The bytes as text when they are valid UTF-8, otherwise absent.
std::optional<std::string> decodeUTF8(ByteView bytes);

}  // namespace ondaline
