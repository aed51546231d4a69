#include "media/audio_specific_config.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ondaline::media {

Bytes buildAudioSpecificConfig(double sampleRate, std::uint32_t channels)
{
    static constexpr std::array<double, 13> rates{96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                  22050, 16000, 12000, 11025, 8000,  7350};
    std::uint8_t index = 4;
    for (std::size_t i = 0; i < rates.size(); ++i) {
        if (std::fabs(rates[i] - sampleRate) < 1.0) {
            index = static_cast<std::uint8_t>(i);
            break;
        }
    }
    const auto configuration = static_cast<std::uint8_t>(std::min<std::uint32_t>(channels, 7));
    return Bytes{static_cast<std::uint8_t>(0x10 | (index >> 1)),
                 static_cast<std::uint8_t>(((index & 1) << 7) | (configuration << 3))};
}

std::optional<Bytes> extractASCFromMagicCookie(ByteView cookie)
{
    std::size_t p = 0;
    for (;;) {
        if (p >= cookie.size()) return std::nullopt;
        const std::uint8_t tag = cookie[p++];
        std::size_t length = 0;
        for (int i = 0; i < 4; ++i) {
            if (p >= cookie.size()) return std::nullopt;
            const std::uint8_t byte = cookie[p++];
            length = (length << 7) | (byte & 0x7F);
            if (!(byte & 0x80)) break;
        }
        switch (tag) {
        case 0x05:
            if (length < 2 || length > cookie.size() - p) return std::nullopt;
            return Bytes(cookie.begin() + static_cast<std::ptrdiff_t>(p),
                         cookie.begin() + static_cast<std::ptrdiff_t>(p + length));
        case 0x03:
            p += 3;  // stream id and flags
            break;
        case 0x04:
            p += 13;  // object type, stream type, buffer size, bit rates
            break;
        default:
            p += length;
            break;
        }
    }
}

}  // namespace ondaline::media
