#include "sources/pcm_frame_assembler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace ondaline::sources {

namespace {

float decodeSample(const std::uint8_t* at)
{
    std::uint32_t bits = std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
                         std::uint32_t{at[3]} << 24;
    const float sample = std::bit_cast<float>(bits);
    return std::isfinite(sample) ? sample : 0.0f;
}

}  // namespace

PCMFrameAssembler::PCMFrameAssembler(std::uint32_t channels)
    : channels_(std::max<std::uint32_t>(channels, 1)), frameBytes_(std::size_t{channels_} * 4)
{
}

std::span<const float> PCMFrameAssembler::append(ByteView bytes)
{
    frames_.clear();
    const std::size_t total = pending_.size() + bytes.size();
    const std::size_t whole = total / frameBytes_ * frameBytes_;
    frames_.reserve(whole / 4);

    // The first frame may start in what the last read left behind.
    std::size_t used = 0;
    if (!pending_.empty() && whole > 0) {
        used = frameBytes_ - pending_.size();
        pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(used));
        for (std::size_t at = 0; at < frameBytes_; at += 4) frames_.push_back(decodeSample(&pending_[at]));
        pending_.clear();
    }
    const std::size_t rest = whole - frames_.size() * 4;
    for (std::size_t at = used; at < used + rest; at += 4) frames_.push_back(decodeSample(&bytes[at]));
    const std::size_t consumed = used + rest;
    pending_.insert(pending_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(consumed), bytes.end());
    return frames_;
}

}  // namespace ondaline::sources
