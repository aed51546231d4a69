#pragma once

#include "platform/codec/codec_failure.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace ondaline::platform {

// AAC-LC through libavcodec's native encoder: 1024-frame packets from
// interleaved 32-bit float PCM, and the stream's AudioSpecificConfig.
//
// The encoder holds one packet back (its look-ahead), so the first encode
// gives no packet and every later one gives the packet of the block before.
class AACEncoder {
public:
    static constexpr int framesPerPacket = 1024;
    static constexpr std::int64_t quickSearchBitratePerChannel = 160000;

    struct Settings {
        int sampleRate = 44100;
        int channels = 2;
        std::int64_t bitrate = 320000;  // bit/s
    };

    using Failure = CodecFailure;

    static std::variant<std::unique_ptr<AACEncoder>, Failure> create(const Settings& settings);
    ~AACEncoder();

    AACEncoder(const AACEncoder&) = delete;
    AACEncoder& operator=(const AACEncoder&) = delete;

    struct Encoded {
        std::vector<std::uint8_t> packet;  // empty when the encoder held the block back
        int status = 0;                    // non-zero on a failure of the library
    };

    // One packet's worth of interleaved frames (framesPerPacket × channels
    // samples), each cleaned first (cleanSample).
    Encoded encode(std::span<const float> interleaved);

    // Far above full scale, so real audio passes unchanged; the library
    // refuses a block holding a huge finite value (1e20, as random bytes
    // read as floats give) as it refuses infinities, and a refused block
    // would be a hole in the stream.
    static constexpr float maxSampleMagnitude = 16.0f;
    // NaN becomes silence; anything else is held within ±maxSampleMagnitude.
    static float cleanSample(float sample);

    const std::vector<std::uint8_t>& audioSpecificConfig() const { return asc_; }
    const Settings& settings() const { return settings_; }

    struct Codec;

private:
    AACEncoder(Settings settings, std::unique_ptr<Codec> codec, std::vector<std::uint8_t> asc);

    Settings settings_;
    std::unique_ptr<Codec> codec_;
    std::vector<std::uint8_t> asc_;
};

}  // namespace ondaline::platform
