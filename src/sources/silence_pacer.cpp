#include "sources/silence_pacer.h"

#include <cmath>

namespace ondaline::sources {

SilencePacer::SilencePacer(double sampleRate, Clock::time_point start) : sampleRate_(sampleRate), start_(start) {}

std::size_t SilencePacer::framesDue(Clock::time_point now)
{
    if (now <= start_ || sampleRate_ <= 0) return 0;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const auto total = static_cast<std::uint64_t>(std::floor(elapsed * sampleRate_));
    if (total <= framesCounted_) return 0;
    const auto limit = static_cast<std::uint64_t>(std::chrono::duration<double>(maxBurst).count() * sampleRate_);
    std::uint64_t due = total - framesCounted_;
    if (due > limit) {
        framesCounted_ = total - limit;  // the older part of the gap is let go
        due = limit;
    }
    framesCounted_ += due;
    return static_cast<std::size_t>(due);
}

}  // namespace ondaline::sources
