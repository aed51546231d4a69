#pragma once

// RMS meter levels of a block of interleaved frames: channel 0 is left,
// channel 1 right (a mono block shows its one level on both sides);
// channels after the second are not measured.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace ondaline::sources {

struct MeterLevels {
    float left = 0;
    float right = 0;
};

// None for a block of a single frame or less, which says nothing of a level.
// Finite samples, however large, give finite levels.
std::optional<MeterLevels> measureLevels(std::span<const float> interleaved, std::uint32_t channels);

}  // namespace ondaline::sources
