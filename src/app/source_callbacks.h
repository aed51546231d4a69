#pragma once

// What the sources' reports become on the dashboard, free of widgets: the
// VU meter's needle target for a level, the name shown for a track file and
// the look of a TCP input status.

#include <optional>
#include <string>
#include <string_view>

namespace ondaline::app {

// An RMS level (1.0 = full scale) on the meter's scale, in single precision:
// 0 there is -18 dBFS, digital silence about -182.
float meterTarget(float level);

// The file name without its last extension: "Song.Name.flac" is "Song.Name";
// a name without one (or a dot file) stays whole.
std::string trackName(std::string_view fileName);

// How a TCP input status shows while no stream runs.
struct TCPStatusLook {
    std::optional<bool> lampLit;        // none: the lamp stays as it is
    std::string statusText;
    std::optional<double> statusAlpha;  // of white; none: the colour stays
};

TCPStatusLook tcpStatusLook(std::string_view status);

}  // namespace ondaline::app
