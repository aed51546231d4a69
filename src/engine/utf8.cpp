#include "engine/utf8.h"

namespace ondaline {

bool isValidUTF8(ByteView bytes)
{
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
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
            return false;
        }
        if (n - i < length) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

std::optional<std::string> decodeUTF8(ByteView bytes)
{
    if (!isValidUTF8(bytes)) return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace ondaline
