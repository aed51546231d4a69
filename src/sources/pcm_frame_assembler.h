#pragma once

// Turns a stream of interleaved little-endian float32 bytes, cut anywhere by
// the network, into whole frames. A read that ends inside a sample or a frame
// leaves its tail here for the next one, so no later sample ever lands in the
// wrong channel. Samples that are not finite become silence: a NaN would
// otherwise spread through the resampler's filter and into the encoder.

#include "base/bytes.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ondaline::sources {

class PCMFrameAssembler {
public:
    explicit PCMFrameAssembler(std::uint32_t channels);

    // The whole frames that `bytes` completes, interleaved; valid until the
    // next call.
    std::span<const float> append(ByteView bytes);

    std::uint32_t channels() const { return channels_; }
    std::size_t pendingBytes() const { return pending_.size(); }

private:
    std::uint32_t channels_;
    std::size_t frameBytes_;
    Bytes pending_;  // less than one frame
    std::vector<float> frames_;
};

}  // namespace ondaline::sources
