#pragma once

// The byte-level building blocks of every wire format: appending fixed-width
// values to a growable buffer, and reading them back. Every reader is
// bounds-checked: it answers absent instead of reading past the end.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ondaline {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

void appendUInt8(Bytes& out, std::uint8_t value);
void appendUInt16BE(Bytes& out, std::uint16_t value);
void appendUInt24BE(Bytes& out, std::uint32_t value);  // bits 31-24 are dropped
void appendUInt32BE(Bytes& out, std::uint32_t value);
void appendUInt32LE(Bytes& out, std::uint32_t value);
void appendDoubleBE(Bytes& out, double value);
void appendBytes(Bytes& out, ByteView bytes);
void appendText(Bytes& out, std::string_view text);

std::optional<std::uint8_t> readUInt8(ByteView in, std::size_t at);
std::optional<std::uint16_t> readUInt16BE(ByteView in, std::size_t at);
std::optional<std::uint32_t> readUInt24BE(ByteView in, std::size_t at);
std::optional<std::uint32_t> readUInt32BE(ByteView in, std::size_t at);
std::optional<std::uint32_t> readUInt32LE(ByteView in, std::size_t at);
std::optional<double> readDoubleBE(ByteView in, std::size_t at);

// Bytes as two lower-case hex digits each, joined by single blanks; at most
// `limit` of them.
std::string hexBytes(ByteView bytes, std::size_t limit = SIZE_MAX);

// Reads front to back through a byte span. Each read either yields a value
// and moves on, or yields absent and leaves the position where it was, so a
// parser can stop at the first short read and ask again when more arrives.
class ByteCursor {
public:
    explicit ByteCursor(ByteView bytes, std::size_t offset = 0) : bytes_(bytes), offset_(offset) {}

    std::optional<std::uint8_t> uint8() { return advance(readUInt8(bytes_, offset_), 1); }
    std::optional<std::uint16_t> uint16BE() { return advance(readUInt16BE(bytes_, offset_), 2); }
    std::optional<std::uint32_t> uint24BE() { return advance(readUInt24BE(bytes_, offset_), 3); }
    std::optional<std::uint32_t> uint32BE() { return advance(readUInt32BE(bytes_, offset_), 4); }
    std::optional<std::uint32_t> uint32LE() { return advance(readUInt32LE(bytes_, offset_), 4); }
    std::optional<double> doubleBE() { return advance(readDoubleBE(bytes_, offset_), 8); }

    // The next `count` bytes, or absent when fewer remain.
    std::optional<ByteView> take(std::size_t count);

    std::size_t offset() const { return offset_; }
    std::size_t remaining() const { return offset_ < bytes_.size() ? bytes_.size() - offset_ : 0; }
    bool atEnd() const { return remaining() == 0; }

private:
    template <typename T>
    std::optional<T> advance(std::optional<T> value, std::size_t width)
    {
        if (value) offset_ += width;
        return value;
    }

    ByteView bytes_;
    std::size_t offset_;
};

}  // namespace ondaline
