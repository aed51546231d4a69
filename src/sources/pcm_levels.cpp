#include "sources/pcm_levels.h"

#include <cmath>

namespace ondaline::sources {

std::optional<MeterLevels> measureLevels(std::span<const float> interleaved, std::uint32_t channels)
{
    if (channels == 0 || interleaved.size() <= channels) return std::nullopt;
    const std::size_t frames = interleaved.size() / channels;
    float sumLeft = 0, sumRight = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const float left = interleaved[i * channels];
        sumLeft += left * left;
        if (channels >= 2) {
            const float right = interleaved[i * channels + 1];
            sumRight += right * right;
        }
    }
    const float count = static_cast<float>(frames);
    const float left = std::sqrt(sumLeft / count);
    return MeterLevels{left, channels >= 2 ? std::sqrt(sumRight / count) : left};
}

}  // namespace ondaline::sources
