#pragma once

// Paces the silence keep-alive by elapsed time: each tick asks how many
// frames are due since the start at the keep-alive's sample rate, so the
// audio delivered matches real time whatever the rate, the channel count or
// the timer's jitter. After a stall it catches up by at most `maxBurst`; the
// rest of the gap is let go rather than delivered in one flood.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace ondaline::sources {

class SilencePacer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds maxBurst{250};

    SilencePacer(double sampleRate, Clock::time_point start);

    // Frames to deliver now; moves the count on by as many.
    std::size_t framesDue(Clock::time_point now);

private:
    double sampleRate_;
    Clock::time_point start_;
    std::uint64_t framesCounted_ = 0;
};

}  // namespace ondaline::sources
