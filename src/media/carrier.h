#pragma once

#include "base/bytes.h"

#include <cstdint>
#include <vector>

namespace ondaline::media {

// Feeds the silence carrier at the stream's own pace: each call gives the
// frames due for the time since the last one, in the stream's rate and
// channel count, read from the carrier block (1024 stereo frames) repeated
// as it is, so its block edges stay every 1024 frames.
class CarrierGenerator {
public:
    explicit CarrierGenerator(const Bytes& stereoBlock);

    std::vector<float> framesFor(double elapsedSeconds, double sampleRate, std::uint32_t channels);
    void restart();

private:
    std::vector<float> left_;   // one sample per frame of the block
    std::size_t position_ = 0;  // next frame of the block
    double owedFrames_ = 0;     // fraction of a frame carried to the next call
};

}  // namespace ondaline::media
