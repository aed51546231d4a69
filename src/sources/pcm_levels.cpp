#include "sources/pcm_levels.h"

#include <cmath>

namespace ondaline::sources {

std::optional<MeterLevels> measureLevels(std::span<const float> interleaved, std::uint32_t channels)
{
    if (channels == 0 || interleaved.size() <= channels) return std::nullopt;
    const std::size_t frames = interleaved.size() / channels;
    // Squares summed in double: in float, samples far out of range (a sender
    // writing integers, say) overflow the sum and the meters would show inf.
    double sumLeft = 0, sumRight = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double left = interleaved[i * channels];
        sumLeft += left * left;
        if (channels >= 2) {
            const double right = interleaved[i * channels + 1];
            sumRight += right * right;
        }
    }
    const double count = static_cast<double>(frames);
    const auto left = static_cast<float>(std::sqrt(sumLeft / count));
    return MeterLevels{left, channels >= 2 ? static_cast<float>(std::sqrt(sumRight / count)) : left};
}

}  // namespace ondaline::sources
