#pragma once

// The drawing of one picture: black, the still image, the now-playing block,
// the spectrum bars, the crawler bar and its text, in that order. It keeps no
// state: the stream's renderer draws through it with its own scroll, and the
// editor's preview with what its controls say.

#include "media/overlay_layout.h"
#include "models/overlay_configs.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ondaline::platform {
class Canvas;
class Picture;
}  // namespace ondaline::platform

namespace ondaline::media {

// The song text as the picture shows it: `text` split at every whole
// `delimiter` (an empty one splits nothing) and the fields joined by
// `joiner`. Empty fields keep their place and nothing is trimmed.
std::string joinSongFields(std::string_view text, std::string_view delimiter, std::string_view joiner);

// The crawler's text and the x of each copy's baseline start.
struct CrawlerRun {
    std::string text;
    std::vector<double> starts;
};

struct OverlayScene {
    const platform::Picture* picture = nullptr;  // none: the black shows
    std::string_view songText;                   // empty: neither text nor block
    const NowPlayingConfig& nowPlaying;
    const VisualizationConfig& visualization;  // bars only when enabled
    std::span<const float> levels;
    const CrawlerConfig& crawler;
    const CrawlerRun* crawlerRun = nullptr;  // none: no crawler bar either
};

// Draws the whole scene over whatever the canvas holds.
void drawOverlays(platform::Canvas& canvas, const OverlayScene& scene);

}  // namespace ondaline::media
