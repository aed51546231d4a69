#include "marked_tone.h"

#include <cmath>
#include <numbers>

namespace ondaline::bench {

const std::vector<float>& MarkedTone::next(bool marker)
{
    const double peak = marker ? markerPeak : quietPeak;
    for (int i = 0; i < framesPerBlock; ++i, ++position_) {
        const auto sample = static_cast<float>(peak *
                                               std::sin(2 * std::numbers::pi * 440.0 * double(position_) / sampleRate));
        for (int c = 0; c < channels; ++c) block_[static_cast<std::size_t>(i * channels + c)] = sample;
    }
    return block_;
}

}  // namespace ondaline::bench
