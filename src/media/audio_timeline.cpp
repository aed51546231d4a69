#include "media/audio_timeline.h"

#include <algorithm>
#include <cmath>

namespace ondaline::media {

std::uint64_t AudioTimeline::behind(double now, double sampleRate, std::uint64_t framesSoFar) const
{
    if (!startTime_ || !(sampleRate > 0) || !(now > *startTime_)) return 0;
    const double due = (now - *startTime_) * sampleRate;
    const double missing = due - static_cast<double>(framesSoFar);
    if (!(missing > jitterToleranceSeconds * sampleRate)) return 0;
    return static_cast<std::uint64_t>(missing);
}

std::uint64_t AudioTimeline::shortfall(double now, double sampleRate, std::uint64_t framesSoFar)
{
    const double missing = static_cast<double>(behind(now, sampleRate, framesSoFar));
    if (missing == 0) return 0;
    const double cap = maxFillSeconds * sampleRate;
    if (missing > cap) *startTime_ += (missing - cap) / sampleRate;  // forgiven, so it is not owed again
    return static_cast<std::uint64_t>(std::min(missing, cap));
}

std::uint64_t AudioTimeline::excess(double now, double sampleRate, std::uint64_t framesSoFar) const
{
    if (!startTime_ || !(sampleRate > 0)) return 0;
    const double due = std::max(0.0, now - *startTime_) * sampleRate;
    const double lead = static_cast<double>(framesSoFar) - due;
    const double allowed = maxLeadSeconds * sampleRate;
    if (!(lead > allowed)) return 0;
    return static_cast<std::uint64_t>(lead - allowed);
}

}  // namespace ondaline::media
