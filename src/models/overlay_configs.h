#pragma once

// The settings of the three overlays drawn on the 1280 × 720 picture.
// Geometry is in pixels with the origin at the bottom left; colours are RGB
// components from 0 to 1; nothing is clamped or checked.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace ondaline {

struct NowPlayingConfig {
    std::string filePath;          // empty: the station folder's "/Misc/System/current_song.txt"
    std::string delimiter = "\t";  // between the fields of the now-playing text
    bool multiRow = false;         // one field per line instead of " - " between them
    bool showPrefix = false;       // "Now Playing: " in front
    double textX = 290;
    double textY = 38;  // baseline of the bottom line
    std::string fontName = "Helvetica-Bold";
    double fontSize = 24;  // also sets the line spacing, 1.3 × fontSize
    double textColorR = 1;
    double textColorG = 1;
    double textColorB = 1;
    bool showBackground = false;
    double bgX = 0;
    double bgY = 0;
    double bgWidth = 1280;
    double bgHeight = 50;
    double bgColorR = 0;
    double bgColorG = 0;
    double bgColorB = 0;
    double bgAlpha = 0.7;

    // (value, label) pairs of the delimiter choice, in the order shown.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 4> delimiterOptions{{
        {"\t", "Tab"},
        {",", "Comma"},
        {"|", "Pipe"},
        {";", "Semicolon"},
    }};

    bool operator==(const NowPlayingConfig&) const = default;
};

struct VisualizationConfig {
    bool enabled = false;
    std::int64_t barCount = 15;
    std::int64_t segmentCount = 12;
    double segmentGap = 2;
    double posX = 40;
    double posY = 100;
    double width = 400;
    double height = 300;
    double colorBottomR = 0;
    double colorBottomG = 0.4;
    double colorBottomB = 1;
    double colorTopR = 1;
    double colorTopG = 1;
    double colorTopB = 1;
    double opacity = 0.8;
    double sensitivity = 1.5;  // level gain before the cap at 1

    bool operator==(const VisualizationConfig&) const = default;
};

struct CrawlerConfig {
    bool enabled = false;
    double barX = 0;
    double barY = 40;
    double barWidth = 1280;
    double barHeight = 36;
    double barColorR = 0;
    double barColorG = 0;
    double barColorB = 0;
    double barAlpha = 0.7;
    double textColorR = 1;
    double textColorG = 1;
    double textColorB = 1;
    std::string fontName = "Helvetica-Bold";
    double fontSize = 22;
    double speed = 2;  // pixels to the left per drawn frame
    bool uppercase = false;

    bool operator==(const CrawlerConfig&) const = default;
};

}  // namespace ondaline
