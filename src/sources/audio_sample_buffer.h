#pragma once

// A block of captured audio as the capture hands it over: the bytes, how
// they are laid out, and how many frames they hold. The converter turns one
// into 32-bit float samples.

#include "base/bytes.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace ondaline::sources {

struct AudioStreamDescription {
    static constexpr std::uint32_t flagIsFloat = 0x1;
    static constexpr std::uint32_t flagIsPacked = 0x8;
    static constexpr std::uint32_t flagIsNonInterleaved = 0x20;

    double sampleRate = 0;
    std::uint32_t formatFlags = 0;
    std::uint32_t bytesPerFrame = 0;
    std::uint32_t channelsPerFrame = 0;
    std::uint32_t bitsPerChannel = 0;

    bool isNonInterleaved() const { return (formatFlags & flagIsNonInterleaved) != 0; }

    // Packed interleaved 32-bit float, as the capture delivers it.
    static AudioStreamDescription interleavedFloat(double sampleRate, std::uint32_t channels);
};

struct AudioSampleBuffer {
    enum class Type { audio, screen };

    Type type = Type::audio;
    bool isValid = true;
    std::uint32_t numSamples = 0;                  // frames
    std::optional<AudioStreamDescription> format;  // none: no format description
    std::optional<Bytes> data;                     // none: no data block
};

struct AudioBufferConverter {
    // The data read as 32-bit floats in stored order (length ÷ 4 of them;
    // planar data comes plane after plane), with the description; none
    // without a description or data.
    static std::optional<std::pair<std::vector<float>, AudioStreamDescription>> extractPCMFloat32(
        const AudioSampleBuffer& buffer);

    // The data bytes as they are; none without data.
    static std::optional<Bytes> extractRawData(const AudioSampleBuffer& buffer);
};

}  // namespace ondaline::sources
