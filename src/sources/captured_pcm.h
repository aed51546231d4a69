#pragma once

// A captured buffer made ready for the engine: interleaved 32-bit float
// frames at the buffer's own rate and channel count, with what the meters
// and the spectrum bars take from it.

#include "sources/audio_sample_buffer.h"
#include "sources/pcm_levels.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ondaline::sources {

struct CapturedPCM {
    // Frames × channels samples. Planar data is interleaved, L0 R0 L1 R1 …;
    // of more than two planes only the first two are copied, the rest stay 0
    // (the capture is asked for two channels).
    std::vector<float> interleaved;
    double sampleRate = 0;
    std::uint32_t channels = 0;
    std::size_t frames = 0;
    MeterLevels levels;  // RMS of channels 0 and 1; a mono buffer shows its one on both
    // Channel 0 for the analyser, for a buffer of at least spectrumMinFrames;
    // empty for a shorter one, which the bars never see.
    std::vector<float> spectrumInput;

    static constexpr std::size_t spectrumMinFrames = 1024;
};

// None for a buffer with no samples, no channels or not one whole frame.
std::optional<CapturedPCM> capturedPCM(const AudioSampleBuffer& buffer);

}  // namespace ondaline::sources
