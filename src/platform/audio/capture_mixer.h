#pragma once

// Mixes the monitor streams of one application's playback streams into one
// sound, sample by sample. The oldest input still open sets the pace: when
// it brings frames they go out at once, with what each other input brought
// meanwhile added on top. The others' frames wait in queues that keep only
// the newest, so that an input running ahead cannot grow without bound.
// Inputs come and go as the application opens and closes streams.

#include <cstddef>
#include <deque>
#include <span>
#include <vector>

namespace ondaline::platform {

class CaptureMixer {
public:
    CaptureMixer(std::size_t channels, std::size_t maxQueuedFrames);

    // A new input, open and last in line to lead; its id.
    std::size_t add();

    // Takes `frames` interleaved frames from `input`. Returns what is to be
    // delivered now: nothing unless `input` leads. Valid until the next call.
    std::span<const float> push(std::size_t input, const float* interleaved, std::size_t frames);

    // The input ended: it neither leads nor adds anything any more.
    void close(std::size_t input);

    std::size_t openInputs() const { return inputs_.size(); }

private:
    struct Input {
        std::size_t id;
        std::deque<float> queued;
    };

    std::size_t channels_;
    std::size_t maxQueuedSamples_;
    std::size_t nextId_ = 0;
    std::vector<Input> inputs_;  // the open ones, oldest first
    std::vector<float> mixed_;
};

}  // namespace ondaline::platform
