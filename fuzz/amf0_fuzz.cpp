// AMF0 values read one after another, as a command payload is, until the
// input ends or a value does not decode. What decodes is written back with
// the writer and must read back to the same bytes.

#include "base/amf0_reader.h"
#include "base/amf0_writer.h"
#include "fuzz_check.h"

#include <cstdint>

using namespace ondaline;

namespace {

// False for what the writer cannot express: an undecoded marker, and an
// object with an empty key (an undecodable key reads as empty, and an empty
// key ends an object).
bool write(Bytes& out, const AMF0Value& value)
{
    switch (value.kind()) {
    case AMF0Value::Kind::number:
        appendAMF0Number(out, *value.numberValue());
        return true;
    case AMF0Value::Kind::string:
        return appendAMF0String(out, *value.stringValue());
    case AMF0Value::Kind::boolean:
        // No accessor for the flag: it is the one of the two that compares equal.
        appendAMF0Boolean(out, value == AMF0Value::boolean(true));
        return true;
    case AMF0Value::Kind::null:
        appendAMF0Null(out);
        return true;
    case AMF0Value::Kind::object:
        appendAMF0ObjectStart(out);
        for (const auto& [key, property] : *value.objectValue()) {
            if (key.empty() || key.size() > amf0MaxStringBytes) return false;
            appendUInt16BE(out, static_cast<std::uint16_t>(key.size()));
            appendText(out, key);
            if (!write(out, property)) return false;
        }
        appendAMF0ObjectEnd(out);
        return true;
    case AMF0Value::Kind::unknown:
        return false;
    }
    return false;
}

void checkRoundTrip(const AMF0Value& value)
{
    Bytes first;
    if (!write(first, value)) return;
    const auto again = readAMF0Value(first, 0);
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->consumed == static_cast<std::int64_t>(first.size()));
    Bytes second;
    FUZZ_CHECK(write(second, again->value));
    FUZZ_CHECK(second == first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ByteView input(data, size);
    std::int64_t offset = 0;
    while (offset < static_cast<std::int64_t>(size)) {
        const auto read = readAMF0Value(input, offset);
        if (!read) break;
        FUZZ_CHECK(read->consumed >= 1);
        FUZZ_CHECK(read->consumed <= static_cast<std::int64_t>(size) - offset);
        checkRoundTrip(read->value);
        offset += read->consumed;
    }
    // Offsets outside the buffer are absent, not a read past it.
    FUZZ_CHECK(!readAMF0Value(input, -1));
    FUZZ_CHECK(!readAMF0Value(input, static_cast<std::int64_t>(size)));
    return 0;
}
