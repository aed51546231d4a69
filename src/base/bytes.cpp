#include "base/bytes.h"

#include <algorithm>
#include <bit>
#include <cstdio>

namespace ondaline {

namespace {

// True when `width` bytes starting at `at` lie inside `in`, without
// overflowing on a huge offset.
bool fits(ByteView in, std::size_t at, std::size_t width) { return at <= in.size() && in.size() - at >= width; }

std::uint64_t readBigEndian(ByteView in, std::size_t at, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | in[at + i];
    return value;
}

}  // namespace

void appendUInt8(Bytes& out, std::uint8_t value) { out.push_back(value); }

void appendUInt16BE(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendUInt24BE(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendUInt32BE(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    appendUInt24BE(out, value);
}

void appendUInt32LE(Bytes& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendDoubleBE(Bytes& out, double value)
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

void appendBytes(Bytes& out, ByteView bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void appendText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

std::optional<std::uint8_t> readUInt8(ByteView in, std::size_t at)
{
    if (!fits(in, at, 1)) return std::nullopt;
    return in[at];
}

std::optional<std::uint16_t> readUInt16BE(ByteView in, std::size_t at)
{
    if (!fits(in, at, 2)) return std::nullopt;
    return static_cast<std::uint16_t>(readBigEndian(in, at, 2));
}

std::optional<std::uint32_t> readUInt24BE(ByteView in, std::size_t at)
{
    if (!fits(in, at, 3)) return std::nullopt;
    return static_cast<std::uint32_t>(readBigEndian(in, at, 3));
}

std::optional<std::uint32_t> readUInt32BE(ByteView in, std::size_t at)
{
    if (!fits(in, at, 4)) return std::nullopt;
    return static_cast<std::uint32_t>(readBigEndian(in, at, 4));
}

std::optional<std::uint32_t> readUInt32LE(ByteView in, std::size_t at)
{
    if (!fits(in, at, 4)) return std::nullopt;
    return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
           static_cast<std::uint32_t>(in[at + 2]) << 16 | static_cast<std::uint32_t>(in[at + 3]) << 24;
}

std::optional<double> readDoubleBE(ByteView in, std::size_t at)
{
    if (!fits(in, at, 8)) return std::nullopt;
    return std::bit_cast<double>(readBigEndian(in, at, 8));
}

std::string hexBytes(ByteView bytes, std::size_t limit)
{
    std::string text;
    const std::size_t count = std::min(limit, bytes.size());
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        if (i > 0) text += ' ';
        text += digits;
    }
    return text;
}

std::optional<ByteView> ByteCursor::take(std::size_t count)
{
    if (!fits(bytes_, offset_, count)) return std::nullopt;
    ByteView part = bytes_.subspan(offset_, count);
    offset_ += count;
    return part;
}

}  // namespace ondaline
