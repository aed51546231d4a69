#pragma once

// The latency probe's signal: a quiet 440 Hz tone in 1024-frame stereo
// blocks, any of which can be made a marker, the same tone 24 dB louder for
// exactly that block. The phase runs on across blocks, so only the level
// changes at a marker's edges.

#include <cstdint>
#include <vector>

namespace ondaline::bench {

class MarkedTone {
public:
    static constexpr int framesPerBlock = 1024;
    static constexpr int channels = 2;
    static constexpr double sampleRate = 44100;
    static constexpr float quietPeak = 0.0316f;  // -30 dBFS
    static constexpr float markerPeak = 0.5f;    // -6 dBFS
    static constexpr float threshold = 0.25f;    // a decoded sample past this belongs to a marker

    // The next block, interleaved.
    const std::vector<float>& next(bool marker);

private:
    std::vector<float> block_ = std::vector<float>(framesPerBlock * channels);
    std::uint64_t position_ = 0;
};

}  // namespace ondaline::bench
