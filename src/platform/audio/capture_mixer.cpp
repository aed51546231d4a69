#include "platform/audio/capture_mixer.h"

#include <algorithm>

namespace ondaline::platform {

CaptureMixer::CaptureMixer(std::size_t channels, std::size_t maxQueuedFrames)
    : channels_(channels), maxQueuedSamples_(maxQueuedFrames * channels)
{
}

std::size_t CaptureMixer::add()
{
    inputs_.push_back({nextId_, {}});
    return nextId_++;
}

std::span<const float> CaptureMixer::push(std::size_t input, const float* interleaved, std::size_t frames)
{
    const auto in = std::find_if(inputs_.begin(), inputs_.end(), [&](const Input& i) { return i.id == input; });
    if (in == inputs_.end()) return {};
    in->queued.insert(in->queued.end(), interleaved, interleaved + frames * channels_);

    if (in != inputs_.begin()) {
        if (in->queued.size() > maxQueuedSamples_)
            in->queued.erase(in->queued.begin(), in->queued.end() - static_cast<std::ptrdiff_t>(maxQueuedSamples_));
        return {};
    }
    // What a new leader had queued goes out first, so nothing it brought is lost.
    mixed_.assign(in->queued.begin(), in->queued.end());
    in->queued.clear();
    for (auto other = inputs_.begin() + 1; other != inputs_.end(); ++other) {
        const std::size_t n = std::min(mixed_.size(), other->queued.size());
        for (std::size_t k = 0; k < n; ++k) mixed_[k] += other->queued[k];
        other->queued.erase(other->queued.begin(), other->queued.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return mixed_;
}

void CaptureMixer::close(std::size_t input)
{
    std::erase_if(inputs_, [&](const Input& i) { return i.id == input; });
}

}  // namespace ondaline::platform
