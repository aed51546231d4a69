#include "media/carrier.h"

#include <cmath>
#include <cstring>

namespace ondaline::media {

CarrierGenerator::CarrierGenerator(const Bytes& stereoBlock)
{
    const std::size_t frames = stereoBlock.size() / 8;
    left_.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) std::memcpy(&left_[i], stereoBlock.data() + i * 8, sizeof(float));
}

void CarrierGenerator::restart()
{
    position_ = 0;
    owedFrames_ = 0;
}

std::vector<float> CarrierGenerator::framesFor(double elapsedSeconds, double sampleRate, std::uint32_t channels)
{
    if (left_.empty() || channels == 0 || !(elapsedSeconds > 0) || !(sampleRate > 0)) return {};
    // At most one second per call, so a stalled queue cannot ask for a flood.
    owedFrames_ += std::min(elapsedSeconds, 1.0) * sampleRate;
    const auto frames = static_cast<std::size_t>(std::floor(owedFrames_));
    owedFrames_ -= static_cast<double>(frames);
    std::vector<float> out;
    out.reserve(frames * channels);
    for (std::size_t f = 0; f < frames; ++f) {
        const float sample = left_[position_];  // both channels of the block carry the same value
        position_ = (position_ + 1) % left_.size();
        for (std::uint32_t c = 0; c < channels; ++c) out.push_back(sample);
    }
    return out;
}

}  // namespace ondaline::media
