#pragma once

// The audio packet loop's rules: cut PCM into 1024-frame packets, encode
// each, stamp it from the count of encoded frames, drop the encoder's priming
// packet and send the cached silence packet in place of near-empty ones
// that carry silence.
// Silence is programme: every chunk the encoder answers goes out, so the
// audio track has no holes (a listener's server would drop a quiet source).

#include "base/bytes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace ondaline::media {

inline constexpr std::size_t framesPerPacket = 1024;
inline constexpr std::size_t shortPacketBytes = 64;  // below this a packet may be silence
// A short packet is silence only when the PCM it can carry is: every sample
// within -80 dBFS in the block just encoded and the two before it (the
// transform window spans two blocks, and the encoder holds one back to look
// ahead). An encoder that spends little on quiet, sparse audio makes short
// packets of music too, and those must go out as they are.
inline constexpr float silencePeak = 1e-4f;
inline constexpr int blocksAPacketReaches = 3;
inline constexpr std::int64_t silenceSubstitutionCap = 10;

struct EncodedPacket {
    Bytes packet;    // empty: nothing came out (held back by the encoder, or failed)
    int status = 0;  // non-zero: the encoder failed
};

struct AudioPacketLoop {
    struct Hooks {
        std::function<EncodedPacket(std::span<const float> interleaved)> encode;
        std::function<void(const Bytes& packet, std::uint32_t timestamp)> send;
        std::function<void(const std::string& line)> log;
    };

    // State of one stream, kept between runs.
    std::uint64_t encoderSampleCount = 0;
    std::int64_t consecutiveSilenceFrames = 0;
    int quietBlocks = blocksAPacketReaches;  // in a row, up to the last one taken; the encoder starts from silence
    std::optional<Bytes> cachedSilenceAAC;
    std::uint64_t encodeFailures = 0;
    std::uint64_t framesTaken = 0;   // cut into packets since the reset, silence put in included
    std::size_t remainderBytes = 0;  // what the last run left at the front of the ring
    // Set while the silence carrier plays: its packets follow a silence,
    // they do not end it.
    bool carrierOnAir = false;
    std::atomic<std::uint64_t> audioPacketsSent{0};
    std::atomic<std::uint64_t> diagAACFramesProduced{0};

    void reset();

    // Encodes every whole packet at the front of `pcm` (interleaved 32-bit
    // float of `channels`) and leaves the remainder there.
    void run(Bytes& pcm, std::uint32_t channels, double sampleRate, const Hooks& hooks);

    // Puts `frames` of digital silence into `pcm` (what was taken from the
    // ring) after the last run's remainder, in front of the PCM that came
    // since: the gap it fills lies between the two.
    void insertSilence(Bytes& pcm, std::uint64_t frames, std::uint32_t channels) const;

private:
    void handle(const EncodedPacket& encoded, bool pcmQuiet, double sampleRate, const Hooks& hooks);
};

}  // namespace ondaline::media
