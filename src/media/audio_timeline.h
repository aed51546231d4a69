#pragma once

#include <cstdint>
#include <optional>

namespace ondaline::media {

// The audio track's clock: since the stream began, the frames handed to the
// packet loop should add up to the time gone by. Sources deliver in bursts
// and a little late, so only a shortfall past the jitter tolerance counts as
// audio that is really missing (a late start, a paused or replaced source);
// that is made up with silence, so the audio stays level with the video.
class AudioTimeline {
public:
    static constexpr double jitterToleranceSeconds = 0.1;
    // A longer shortfall (the machine asleep, a stalled queue) is made up to
    // this much at a time; the rest is forgiven rather than sent in a flood.
    static constexpr double maxFillSeconds = 5.0;
    // Audio never runs further ahead of the clock than this: a burst (a
    // sender catching up after a stall) or a sender whose clock runs fast
    // would otherwise delay everything after it for good.
    static constexpr double maxLeadSeconds = 0.5;

    void start(double now) { startTime_ = now; }
    void stop() { startTime_.reset(); }
    bool running() const { return startTime_.has_value(); }

    // Frames of silence due before the PCM now waiting, given the frames
    // already taken and waiting together; 0 within the tolerance.
    std::uint64_t shortfall(double now, double sampleRate, std::uint64_t framesSoFar);
    // The same without forgiving anything: only whether audio is missing.
    std::uint64_t behind(double now, double sampleRate, std::uint64_t framesSoFar) const;

    // Frames beyond the allowed lead, given the frames taken and waiting
    // together; 0 within it or before the start.
    std::uint64_t excess(double now, double sampleRate, std::uint64_t framesSoFar) const;

private:
    std::optional<double> startTime_;
};

}  // namespace ondaline::media
