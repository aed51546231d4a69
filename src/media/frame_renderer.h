#pragma once

// Composes the video picture: black, the still image stretched to the frame,
// the now-playing block, the spectrum bars, the crawler, in that order (drawn
// by drawOverlays, with the crawler's scroll kept here). Renders may be asked
// for from several threads: one lock serialises them, and each finished frame
// is a buffer never drawn into again.
//
// A frame is drawn whole only when the picture, the song block or a setting
// changed; otherwise the rows that the moving bars and the crawler touch are
// drawn again (every layer, clipped to them, in stacking order) and the rest
// is taken from the last frame, which gives the same bytes as drawing it all.
// A frame with nothing to change is the last frame itself.
//
// The buffers of frames nobody holds any more are drawn into again: such a
// buffer is brought up to the last frame by copying the rows that changed
// since it was drawn, so a tick touches only the rows that move.

#include "base/bytes.h"
#include "media/overlay_layout.h"
#include "models/overlay_configs.h"
#include "platform/codec/frame_converter.h"
#include "platform/file_rights/named_file.h"

#include <memory>
#include <mutex>
#include <optional>
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

    // How the image and the crawler file are reached and read (by default,
    // following no other user's link, with our own rights).
    void setNamedFileRules(platform::NamedFileRules rules);

    // Reads a still image; false (and nothing changes) when it does not read,
    // with why in `problem` when that is given.
    bool loadBackground(const std::string& path, std::string* problem = nullptr);
    void clearBackground();

    // The next frame (see above); advances the crawler when it is drawn.
    Frame render(const OverlayInputs& inputs);

    // Reads the crawler file at most every 10 s (`now` in seconds); a
    // changed text starts the scroll again, an unreadable file clears it.
    // Something there that is not a regular file is logged once, until the
    // file is usable again or its problem changes.
    void pollCrawlerFile(const std::string& path, double now);

    std::string crawlerText() const;
    CrawlerScroll crawlerScroll() const;

    // The rows in which `later` differs from `earlier`, when both came from
    // here and `later` was drawn from `earlier` in the last few renders;
    // nothing when that is not known (the whole frame may differ).
    using Rows = std::vector<platform::RowRange>;
    std::optional<Rows> changedRows(const Frame& earlier, const Frame& later) const;

private:
    // What the last frame shows, and how recent frames came from each other.
    struct Drawn;
    struct Step {
        std::weak_ptr<const Bytes> frame, from;
        std::optional<Rows> rows;  // none: drawn whole
    };

    std::optional<Rows> rowsToDraw(const Drawn& next) const;
    // changedRows() with `lock_` held; `start` may have gone.
    std::optional<Rows> rowsSince(const std::weak_ptr<const Bytes>& start, const Frame& later) const;

    const int width_, height_;
    // The buffers of frames gone, and which frame each held; frames go on
    // whichever thread lets go of them last.
    struct Buffers;
    const std::shared_ptr<Buffers> buffers_;
    mutable std::mutex lock_;
    std::shared_ptr<const platform::Picture> background_;
    std::string crawlerText_;
    CrawlerScroll scroll_;
    double crawlerLastReadTime_ = -1e300;
    std::string crawlerProblem_;  // the last one logged; empty while the file is usable or missing
    platform::NamedFileRules fileRules_;
    std::unique_ptr<Drawn> drawn_;
    Frame last_;
    std::vector<Step> steps_;  // oldest first
};

}  // namespace ondaline::media
