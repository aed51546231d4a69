#pragma once

#include <cstdint>

namespace ondaline::platform {

// One block of float PCM, one plane per channel; valid during the call that
// hands it over.
struct AudioBlock {
    const float* const* planes = nullptr;
    std::uint32_t channelCount = 0;
    std::uint32_t frameCount = 0;
    double sampleRate = 0;
};

}  // namespace ondaline::platform
