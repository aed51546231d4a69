#include "media/overlay_drawing.h"

#include "platform/graphics/canvas.h"

#include <cmath>

namespace ondaline::media {

namespace {

platform::Colour colour(double r, double g, double b, double a) { return {r, g, b, a}; }

}  // namespace

std::string joinSongFields(std::string_view text, std::string_view delimiter, std::string_view joiner)
{
    std::string joined;
    joined.reserve(text.size());
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = delimiter.empty() ? std::string_view::npos : text.find(delimiter, start);
        joined += text.substr(start, end == std::string_view::npos ? end : end - start);
        if (end == std::string_view::npos) return joined;
        joined += joiner;
        start = end + delimiter.size();
    }
}

void drawOverlays(platform::Canvas& canvas, const OverlayScene& scene)
{
    canvas.fill(0, 0, canvas.width(), canvas.height(), colour(0, 0, 0, 1));
    if (scene.picture) canvas.draw(*scene.picture);

    if (!scene.songText.empty()) {
        const NowPlayingConfig& np = scene.nowPlaying;
        if (np.showBackground)
            canvas.fill(np.bgX, np.bgY, np.bgWidth, np.bgHeight,
                        colour(np.bgColorR, np.bgColorG, np.bgColorB, np.bgAlpha));
        const platform::Font font(np.fontName, np.fontSize);
        for (const auto& line : nowPlayingLines(scene.songText, np)) {
            canvas.text(line.text, font, colour(np.textColorR, np.textColorG, np.textColorB, 1), line.x, line.baseline);
        }
    }

    if (scene.visualization.enabled) {
        for (const auto& segment : spectrumBarSegments(scene.levels, scene.visualization)) {
            const auto& c = segment.colour;
            canvas.fill(segment.x, segment.y, segment.width, segment.height, colour(c.r, c.g, c.b, c.a));
        }
    }

    if (scene.crawlerRun) {
        const CrawlerConfig& cr = scene.crawler;
        canvas.fill(cr.barX, cr.barY, cr.barWidth, cr.barHeight,
                    colour(cr.barColorR, cr.barColorG, cr.barColorB, cr.barAlpha));
        const platform::Font font(cr.fontName, cr.fontSize);
        // The font's ascent-plus-descent box centred in the bar.
        const double barHeight = std::abs(cr.barHeight);
        const double baseline = cr.barY + (barHeight - (font.ascent() + font.descent())) / 2 + font.descent();
        const auto textColour = colour(cr.textColorR, cr.textColorG, cr.textColorB, 1);
        canvas.save();
        canvas.clip(cr.barX, cr.barY, cr.barWidth, cr.barHeight);
        for (const double x : scene.crawlerRun->starts)
            canvas.text(scene.crawlerRun->text, font, textColour, x, baseline);
        canvas.restore();
    }
}

}  // namespace ondaline::media
