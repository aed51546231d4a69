#include "platform/text.h"

#include <utility>

namespace ondaline::platform {

namespace {

// Length of the well-formed UTF-8 sequence starting at `i`, or 0.
std::size_t sequenceLength(std::span<const std::uint8_t> bytes, std::size_t i)
{
    const std::uint8_t b = bytes[i];
    if (b < 0x80) return 1;
    std::size_t length;
    std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0) low = 0xA0;   // overlong
        if (b == 0xED) high = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0) low = 0x90;   // overlong
        if (b == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() - i < length) return 0;
    if (bytes[i + 1] < low || bytes[i + 1] > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if ((bytes[i + k] & 0xC0) != 0x80) return 0;
    }
    return length;
}

std::span<const std::uint8_t> asBytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool isWhitespaceOrNewline(char32_t c)
{
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

// The code point that starts at `i`, with its length; {0, 0} when malformed.
std::pair<char32_t, std::size_t> decodeAt(std::span<const std::uint8_t> bytes, std::size_t i)
{
    const std::size_t length = sequenceLength(bytes, i);
    if (length == 0) return {0, 0};
    static constexpr std::uint8_t leadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t c = bytes[i] & leadMask[length];
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (bytes[i + k] & 0x3F);
    return {c, length};
}

}  // namespace

bool isValidUTF8(std::span<const std::uint8_t> bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = sequenceLength(bytes, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

bool isValidUTF8(std::string_view text) { return isValidUTF8(asBytes(text)); }

std::optional<std::string> decodeUTF8(std::span<const std::uint8_t> bytes)
{
    if (!isValidUTF8(bytes)) return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

std::string_view trimWhitespaceAndNewlines(std::string_view text)
{
    const auto bytes = asBytes(text);
    std::size_t begin = 0;
    while (begin < bytes.size()) {
        const auto [c, length] = decodeAt(bytes, begin);
        if (length == 0 || !isWhitespaceOrNewline(c)) break;
        begin += length;
    }
    std::size_t end = bytes.size();
    while (end > begin) {
        // Step back to the start of the last code point.
        std::size_t start = end - 1;
        while (start > begin && (bytes[start] & 0xC0) == 0x80 && end - start < 4) --start;
        const auto [c, length] = decodeAt(bytes, start);
        if (length != end - start || !isWhitespaceOrNewline(c)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::string asciiLowercase(std::string_view text)
{
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

std::string withControlsShown(std::string_view text, LineBreaks lineBreaks)
{
    const auto bytes = asBytes(text);
    std::string shown;
    shown.reserve(text.size());
    auto append = [&shown](char32_t c) {  // U+0080 to U+FFFF, as UTF-8
        if (c < 0x800) {
            shown += static_cast<char>(0xC0 | (c >> 6));
        } else {
            shown += static_cast<char>(0xE0 | (c >> 12));
            shown += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        shown += static_cast<char>(0x80 | (c & 0x3F));
    };
    const bool keep = lineBreaks == LineBreaks::keep;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = sequenceLength(bytes, i);
        const std::uint8_t b = bytes[i];
        const bool lineSeparator = length == 3 && b == 0xE2 && bytes[i + 1] == 0x80 &&
                                   (bytes[i + 2] == 0xA8 || bytes[i + 2] == 0xA9);  // U+2028, U+2029
        if (length == 0 || (length == 2 && b == 0xC2 && bytes[i + 1] < 0xA0) || lineSeparator) {
            append(0xFFFD);  // not UTF-8, C1, or a line or paragraph separator
            i += length == 0 ? 1 : length;
            continue;
        }
        const bool lineBreak = b == '\n' || (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n');
        if ((b < 0x20 && b != '\t' && !(keep && lineBreak)) || b == 0x7F) append(b == 0x7F ? 0x2421 : 0x2400 + b);
        else shown.append(text.substr(i, length));
        i += length;
    }
    return shown;
}

namespace {

// Unicode 15's format characters (category Cf), as ranges.
constexpr std::pair<char32_t, char32_t> kFormatCharacters[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

bool isFormatCharacter(char32_t c)
{
    for (const auto& [first, last] : kFormatCharacters)
        if (c >= first && c <= last) return true;
    return false;
}

}  // namespace

std::string withFormatCharactersShown(std::string_view text)
{
    // Valid UTF-8 from here on: what was not is U+FFFD already.
    const std::string shown = withControlsShown(text);
    std::string marked;
    marked.reserve(shown.size());
    for (std::size_t i = 0; i < shown.size();) {
        const auto lead = static_cast<std::uint8_t>(shown[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<std::uint8_t>(shown[i + k]) & 0x3F);
        if (isFormatCharacter(c)) marked += "\xEF\xBF\xBD";  // U+FFFD
        else marked.append(shown, i, length);
        i += length;
    }
    return marked;
}

}  // namespace ondaline::platform
