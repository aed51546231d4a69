#include "base/amf0_reader.h"

#include "platform/text.h"

namespace ondaline {

namespace {

std::string decodeOrEmpty(ByteView bytes) { return platform::decodeUTF8(bytes).value_or(std::string()); }

std::optional<AMF0Read> readValue(ByteView in, std::size_t offset, int depth);

// The object's properties follow its marker as (key length, key, value)
// triples; an empty key ends them, and the end marker after it is consumed
// when present but not required. A cut anywhere keeps what was read.
AMF0Read readObject(ByteView in, std::size_t offset, int depth)
{
    AMF0Value::Object properties;
    std::size_t cursor = 1;
    auto partial = [&] {
        return AMF0Read{AMF0Value::object(std::move(properties)), static_cast<std::int64_t>(cursor)};
    };

    for (;;) {
        const auto keyLength = readUInt16BE(in, offset + cursor);
        if (!keyLength) return partial();
        cursor += 2;
        if (*keyLength == 0) break;

        const auto keyBytes = ByteCursor(in, offset + cursor).take(*keyLength);
        if (!keyBytes) return partial();
        std::string key = decodeOrEmpty(*keyBytes);
        cursor += *keyLength;

        auto value = readValue(in, offset + cursor, depth + 1);
        if (!value) return partial();
        cursor += static_cast<std::size_t>(value->consumed);
        properties.insert_or_assign(std::move(key), std::move(value->value));
    }

    if (readUInt8(in, offset + cursor) == amf0ObjectEnd) cursor += 1;
    return partial();
}

std::optional<AMF0Read> readValue(ByteView in, std::size_t offset, int depth)
{
    if (depth > amf0MaxDepth) return std::nullopt;
    ByteCursor cursor(in, offset);
    const auto marker = cursor.uint8();
    if (!marker) return std::nullopt;

    switch (*marker) {
    case amf0Number: {
        const auto number = cursor.doubleBE();
        if (!number) return std::nullopt;
        return AMF0Read{AMF0Value::number(*number), 9};
    }
    case amf0Boolean: {
        const auto flag = cursor.uint8();
        if (!flag) return std::nullopt;
        return AMF0Read{AMF0Value::boolean(*flag != 0), 2};
    }
    case amf0String: {
        const auto length = cursor.uint16BE();
        if (!length) return std::nullopt;
        const auto text = cursor.take(*length);
        if (!text) return std::nullopt;
        return AMF0Read{AMF0Value::string(decodeOrEmpty(*text)), static_cast<std::int64_t>(*length) + 3};
    }
    case amf0Object:
        return readObject(in, offset, depth);
    case amf0Null:
        return AMF0Read{AMF0Value::null(), 1};
    default:
        return AMF0Read{AMF0Value::unknown(), 1};
    }
}

}  // namespace

std::optional<AMF0Read> readAMF0Value(ByteView from, std::int64_t at)
{
    if (at < 0) return std::nullopt;
    return readValue(from, static_cast<std::size_t>(at), 1);
}

}  // namespace ondaline
