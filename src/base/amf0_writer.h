#pragma once

// AMF0 encoding of the values the RTMP commands and the stream metadata use.
// A string or key longer than 65535 UTF-8 bytes does not fit its 16-bit
// length field: those writers append nothing and answer false rather than
// emit corrupt output. Every other writer always succeeds.

#include "base/bytes.h"

#include <string_view>

namespace ondaline {

inline constexpr std::size_t amf0MaxStringBytes = 0xFFFF;

void appendAMF0Number(Bytes& out, double value);
bool appendAMF0String(Bytes& out, std::string_view text);
void appendAMF0Boolean(Bytes& out, bool value);
void appendAMF0Null(Bytes& out);
void appendAMF0ObjectStart(Bytes& out);
void appendAMF0ObjectEnd(Bytes& out);
void appendAMF0ECMAArrayStart(Bytes& out, std::uint32_t count);
void appendAMF0ECMAArrayEnd(Bytes& out);

// A property of an object or ECMA array: the key without a marker, then the value.
bool appendAMF0Property(Bytes& out, std::string_view key, std::string_view string);
bool appendAMF0Property(Bytes& out, std::string_view key, const char* string);
bool appendAMF0Property(Bytes& out, std::string_view key, double number);
bool appendAMF0Property(Bytes& out, std::string_view key, bool boolean);

}  // namespace ondaline
