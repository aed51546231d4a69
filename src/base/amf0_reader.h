#pragma once

#include "base/amf0_value.h"
#include "base/bytes.h"

#include <cstdint>
#include <optional>

namespace ondaline {

// Objects nested deeper than this read as malformed (absent), which keeps the
// recursion bounded on hostile input.
inline constexpr int amf0MaxDepth = 32;

struct AMF0Read {
    AMF0Value value;
    std::int64_t consumed;  // bytes, counted from the offset read at
};

// Reads one AMF0 value at `at`. Absent for an offset outside the buffer
// (negative included), a truncated number, boolean or string, or nesting past
// amf0MaxDepth. A truncated object still yields the properties read before the
// cut. Undecoded markers yield `unknown` with 1 byte consumed, their payload
// left unread.
std::optional<AMF0Read> readAMF0Value(ByteView from, std::int64_t at);

}  // namespace ondaline
