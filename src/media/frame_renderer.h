#pragma once

// Composes the video picture: black, the still image stretched to the frame,
// the now-playing block, the spectrum bars, the crawler, in that order (drawn
// by drawOverlays, with the crawler's scroll kept here). Renders may be asked
// for from several threads: one lock serialises them, and each finished frame
// is a new buffer, never drawn into again.

#include "engine/bytes.h"
#include "media/overlay_layout.h"
#include "models/overlay_configs.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ondaline::platform {
class Picture;
}

namespace ondaline::media {

struct OverlayInputs {
    std::string songText;
    NowPlayingConfig nowPlaying;
    VisualizationConfig visualization;
    CrawlerConfig crawler;
    std::vector<float> levels;  // one snapshot
};

class FrameRenderer {
public:
    using Frame = std::shared_ptr<const Bytes>;  // width × height BGRA, rows top first

    FrameRenderer(int width, int height);
    ~FrameRenderer();

    // Reads a still image; false (and nothing changes) when it does not read.
    bool loadBackground(const std::string& path);
    void clearBackground();

    // Draws a whole new frame; advances the crawler when it is drawn.
    Frame render(const OverlayInputs& inputs);

    // Reads the crawler file at most every 10 s (`now` in seconds); a
    // changed text starts the scroll again, an unreadable file clears it.
    void pollCrawlerFile(const std::string& path, double now);

    std::string crawlerText() const;
    CrawlerScroll crawlerScroll() const;

private:
    const int width_, height_;
    mutable std::mutex lock_;
    std::shared_ptr<const platform::Picture> background_;
    std::string crawlerText_;
    CrawlerScroll scroll_;
    double crawlerLastReadTime_ = -1e300;
};

}  // namespace ondaline::media
