#pragma once

// What a TCP audio sender announces before its samples: 12 bytes, three
// little-endian unsigned 32-bit values (sample rate in Hz, channel count,
// bits per float sample), then interleaved little-endian float32 frames.

#include "base/bytes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace ondaline::sources {

struct PCMHandshake {
    std::uint32_t sampleRate = 44100;
    std::uint32_t channels = 2;
    std::uint32_t format = 32;

    static constexpr std::size_t size = 12;
    static constexpr std::uint32_t minSampleRate = 8000;
    static constexpr std::uint32_t maxSampleRate = 192000;
    static constexpr std::uint32_t maxChannels = 8;
    static constexpr std::uint32_t floatFormat = 32;

    // The three fields of exactly `size` bytes, unchecked.
    static PCMHandshake read(ByteView bytes);

    // Rate 8000…192000, 1…8 channels, format 32.
    bool isAcceptable() const;

    std::size_t bytesPerFrame() const { return std::size_t{channels} * 4; }
};

}  // namespace ondaline::sources
