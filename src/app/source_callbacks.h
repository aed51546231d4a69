#pragma once

// What the sources' reports become on the dashboard, free of widgets: the
// VU meter's needle target for a level, the name shown for a track file and
// the look of a TCP input status.

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ondaline::app {

// An RMS level (1.0 = full scale) on the meter's scale, in single precision:
// 0 there is -18 dBFS, digital silence about -182.
float meterTarget(float level);

// Lets a source's level reports through to the dashboard only when they
// would move a needle by what the eye can tell: a report within 0.1 dB of
// the last one let through (under a pixel at the meter's steepest) is
// dropped, so a steady tone or a silence costs the dashboard few wake-ups.
// (A tone's level measured over the blocks as they are read jitters by
// nearly that much.) One report in every `keepAlive` passes all the same:
// the dashboard tells a source that still delivers from one that stopped by
// them. pass() runs on the source's own thread, one report at a time;
// after reset() (from any thread: the source became the shown one) the
// next report passes whatever it holds.
class MeterReportFilter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto keepAlive = std::chrono::milliseconds(500);

    bool pass(float left, float right, Clock::time_point now = Clock::now());
    void reset() { reset_ = true; }

private:
    std::atomic<bool> reset_{true};
    float left_ = 0, right_ = 0;
    Clock::time_point passed_{};
};

// The file name without its last extension: "Song.Name.flac" is "Song.Name";
// a name without one (or a dot file) stays whole.
std::string trackName(std::string_view fileName);

// How a TCP input status shows while no stream runs.
struct TCPStatusLook {
    std::optional<bool> lampLit;  // none: the lamp stays as it is
    std::string statusText;
    std::optional<double> statusAlpha;  // of white; none: the colour stays
};

TCPStatusLook tcpStatusLook(std::string_view status);

}  // namespace ondaline::app
