#pragma once

// The geometry of the picture's overlays, apart from any drawing library:
// where the now-playing lines sit, which bar segments are lit in which
// colour, the crawler's text and its scroll. The renderer draws what these
// give; the drawing space is pixels with the origin at the bottom left.

#include "models/overlay_configs.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ondaline::media {

struct RGBA {
    double r = 0, g = 0, b = 0, a = 1;
    bool operator==(const RGBA&) const = default;
};

struct FilledRect {
    double x = 0, y = 0, width = 0, height = 0;
    RGBA colour;
    bool operator==(const FilledRect&) const = default;
};

struct TextLine {
    std::string text;
    double x = 0;
    double baseline = 0;
};

// The song text split at "\n" (empty lines keep their place), the prefix on
// the first line, the last line's baseline on textY and the others stacked
// 1.3 × fontSize apart above it.
std::vector<TextLine> nowPlayingLines(std::string_view songText, const NowPlayingConfig& config);

// The lit segments of the spectrum bars, bottom to top, bar by bar.
// What the bars can hold at most: one per pixel column and one segment per
// pixel row of the 1280 × 720 picture.
inline constexpr std::int64_t maxSpectrumBars = 1280;
inline constexpr std::int64_t maxSpectrumSegments = 720;

std::vector<FilledRect> spectrumBarSegments(std::span<const float> levels, const VisualizationConfig& config);

// Segments lit by one level: v = min(level × sensitivity, 1) in 32-bit
// floats (not a number counts as 1), then v × segments + 0.5 truncated.
std::int64_t litSegments(float level, float sensitivity, std::int64_t segments);

inline constexpr std::string_view crawlerSeparator = " \u25C6 ";

// The crawler file's non-blank lines joined by " ◆ ". Lines end at any
// Unicode line break (CR LF counts as two); a line of only white space is
// dropped, the others stay exactly as written.
std::string crawlerTextFromFile(std::string_view utf8);

// The crawler's scroll: how far the text has moved left, and the measured
// width after which it wraps.
struct CrawlerScroll {
    double crawlerScrollOffset = 0;
    double crawlerTextWidth = 0;  // 0 or less: measure at the next draw
    bool crawlerLastUppercase = false;

    // Before a draw: a change of the upper-case setting asks for a new
    // measurement (the offset stays). Returns whether to measure.
    bool needsMeasuring(bool uppercase);
    // After a draw: one step of `speed`, wrapping once past the width.
    void advance(double speed);
    // A new text starts again from the bar's right edge.
    void restart();
};

}  // namespace ondaline::media
