#include "base/amf0_writer.h"

#include "base/amf0_value.h"

namespace ondaline {

namespace {

bool appendShortString(Bytes& out, std::string_view text)
{
    if (text.size() > amf0MaxStringBytes) return false;
    appendUInt16BE(out, static_cast<std::uint16_t>(text.size()));
    appendText(out, text);
    return true;
}

// Appends the key only when the whole property will fit, so a refused
// property leaves the buffer as it was.
bool appendKeyFor(Bytes& out, std::string_view key, std::size_t valueTextBytes = 0)
{
    if (key.size() > amf0MaxStringBytes || valueTextBytes > amf0MaxStringBytes) return false;
    return appendShortString(out, key);
}

}  // namespace

void appendAMF0Number(Bytes& out, double value)
{
    appendUInt8(out, amf0Number);
    appendDoubleBE(out, value);
}

bool appendAMF0String(Bytes& out, std::string_view text)
{
    if (text.size() > amf0MaxStringBytes) return false;
    appendUInt8(out, amf0String);
    return appendShortString(out, text);
}

void appendAMF0Boolean(Bytes& out, bool value)
{
    appendUInt8(out, amf0Boolean);
    appendUInt8(out, value ? 1 : 0);
}

void appendAMF0Null(Bytes& out) { appendUInt8(out, amf0Null); }

void appendAMF0ObjectStart(Bytes& out) { appendUInt8(out, amf0Object); }

void appendAMF0ObjectEnd(Bytes& out)
{
    appendUInt16BE(out, 0);
    appendUInt8(out, amf0ObjectEnd);
}

void appendAMF0ECMAArrayStart(Bytes& out, std::uint32_t count)
{
    appendUInt8(out, amf0ECMAArray);
    appendUInt32BE(out, count);
}

void appendAMF0ECMAArrayEnd(Bytes& out) { appendAMF0ObjectEnd(out); }

bool appendAMF0Property(Bytes& out, std::string_view key, std::string_view string)
{
    return appendKeyFor(out, key, string.size()) && appendAMF0String(out, string);
}

bool appendAMF0Property(Bytes& out, std::string_view key, const char* string)
{
    return appendAMF0Property(out, key, std::string_view(string));
}

bool appendAMF0Property(Bytes& out, std::string_view key, double number)
{
    if (!appendKeyFor(out, key)) return false;
    appendAMF0Number(out, number);
    return true;
}

bool appendAMF0Property(Bytes& out, std::string_view key, bool boolean)
{
    if (!appendKeyFor(out, key)) return false;
    appendAMF0Boolean(out, boolean);
    return true;
}

}  // namespace ondaline
