#include "platform/audio/capture_mixer.h"

#include <algorithm>

namespace ondaline::platform {

CaptureMixer::CaptureMixer(std::size_t inputs, std::size_t channels, std::size_t maxQueuedFrames)
    : channels_(channels), maxQueuedSamples_(maxQueuedFrames * channels), inputs_(inputs)
{
}

std::span<const float> CaptureMixer::push(std::size_t input, const float* interleaved, std::size_t frames)
{
    if (input >= inputs_.size() || !inputs_[input].open) return {};
    Input& in = inputs_[input];
    in.queued.insert(in.queued.end(), interleaved, interleaved + frames * channels_);

    const auto leader = std::find_if(inputs_.begin(), inputs_.end(), [](const Input& i) { return i.open; });
    if (&*leader != &in) {
        if (in.queued.size() > maxQueuedSamples_)
            in.queued.erase(in.queued.begin(), in.queued.end() - static_cast<std::ptrdiff_t>(maxQueuedSamples_));
        return {};
    }
    // What a new leader had queued goes out first, so nothing it brought is lost.
    mixed_.assign(in.queued.begin(), in.queued.end());
    in.queued.clear();
    for (Input& other : inputs_) {
        if (&other == &in || !other.open) continue;
        const std::size_t n = std::min(mixed_.size(), other.queued.size());
        for (std::size_t k = 0; k < n; ++k) mixed_[k] += other.queued[k];
        other.queued.erase(other.queued.begin(), other.queued.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return mixed_;
}

void CaptureMixer::close(std::size_t input)
{
    if (input >= inputs_.size()) return;
    inputs_[input].open = false;
    inputs_[input].queued.clear();
}

std::size_t CaptureMixer::openInputs() const
{
    return static_cast<std::size_t>(std::count_if(inputs_.begin(), inputs_.end(),
                                                  [](const Input& i) { return i.open; }));
}

}  // namespace ondaline::platform
