#include "media/frame_renderer.h"

#include "platform/files.h"
#include "platform/graphics/canvas.h"
#include "platform/text.h"

namespace ondaline::media {

namespace {

constexpr double crawlerPollSeconds = 10.0;
constexpr std::size_t crawlerFileLimit = 1024 * 1024;

platform::Colour colour(double r, double g, double b, double a) { return {r, g, b, a}; }

}  // namespace

FrameRenderer::FrameRenderer(int width, int height) : width_(width), height_(height) {}

FrameRenderer::~FrameRenderer() = default;

bool FrameRenderer::loadBackground(const std::string& path)
{
    auto picture = platform::Picture::load(path, width_, height_);
    if (!picture) return false;
    std::lock_guard guard(lock_);
    background_ = std::move(picture);
    return true;
}

void FrameRenderer::clearBackground()
{
    std::lock_guard guard(lock_);
    background_.reset();
}

FrameRenderer::Frame FrameRenderer::render(const OverlayInputs& in)
{
    platform::ensureGuiRuntime();
    std::lock_guard guard(lock_);
    platform::Canvas canvas(width_, height_);
    canvas.fill(0, 0, width_, height_, colour(0, 0, 0, 1));
    if (background_) canvas.draw(*background_);

    if (!in.songText.empty()) {
        const NowPlayingConfig& np = in.nowPlaying;
        if (np.showBackground) canvas.fill(np.bgX, np.bgY, np.bgWidth, np.bgHeight, colour(np.bgColorR, np.bgColorG, np.bgColorB, np.bgAlpha));
        const platform::Font font(np.fontName, np.fontSize);
        for (const auto& line : nowPlayingLines(in.songText, np)) {
            canvas.text(line.text, font, colour(np.textColorR, np.textColorG, np.textColorB, 1), line.x, line.baseline);
        }
    }

    if (in.visualization.enabled) {
        for (const auto& segment : spectrumBarSegments(in.levels, in.visualization)) {
            const auto& c = segment.colour;
            canvas.fill(segment.x, segment.y, segment.width, segment.height, colour(c.r, c.g, c.b, c.a));
        }
    }

    const CrawlerConfig& cr = in.crawler;
    if (cr.enabled && !crawlerText_.empty()) {
        canvas.fill(cr.barX, cr.barY, cr.barWidth, cr.barHeight, colour(cr.barColorR, cr.barColorG, cr.barColorB, cr.barAlpha));
        std::string text = crawlerText_ + std::string(crawlerSeparator);
        if (cr.uppercase) text = platform::toUpperUnicode(text);
        const platform::Font font(cr.fontName, cr.fontSize);
        if (scroll_.needsMeasuring(cr.uppercase)) scroll_.crawlerTextWidth = font.width(text);
        const double barHeight = std::abs(cr.barHeight), barWidth = std::abs(cr.barWidth);
        const double baseline = cr.barY + (barHeight - (font.ascent() + font.descent())) / 2 + font.descent();
        const double x1 = cr.barX + barWidth - scroll_.crawlerScrollOffset;
        const auto textColour = colour(cr.textColorR, cr.textColorG, cr.textColorB, 1);
        canvas.save();
        canvas.clip(cr.barX, cr.barY, cr.barWidth, cr.barHeight);
        canvas.text(text, font, textColour, x1, baseline);
        // The copy before it carries the text on without a gap across the wrap.
        canvas.text(text, font, textColour, x1 - scroll_.crawlerTextWidth, baseline);
        canvas.restore();
        scroll_.advance(cr.speed);
    }
    return std::make_shared<const Bytes>(canvas.finish());
}

void FrameRenderer::pollCrawlerFile(const std::string& path, double now)
{
    std::lock_guard guard(lock_);
    if (now - crawlerLastReadTime_ < crawlerPollSeconds) return;
    crawlerLastReadTime_ = now;
    std::optional<std::string> text;
    if (!path.empty()) {
        const auto contents = platform::readFile(path, crawlerFileLimit);
        if (contents && platform::isValidUTF8(*contents)) text = crawlerTextFromFile(*contents);
    }
    if (text) {
        if (*text != crawlerText_) {
            crawlerText_ = *text;
            scroll_.restart();
        }
    } else if (!crawlerText_.empty()) {
        crawlerText_.clear();
        scroll_.restart();
    }
}

std::string FrameRenderer::crawlerText() const
{
    std::lock_guard guard(lock_);
    return crawlerText_;
}

CrawlerScroll FrameRenderer::crawlerScroll() const
{
    std::lock_guard guard(lock_);
    return scroll_;
}

}  // namespace ondaline::media
