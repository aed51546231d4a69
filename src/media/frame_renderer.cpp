#include "media/frame_renderer.h"

#include "media/overlay_drawing.h"
#include "platform/files.h"
#include "platform/graphics/canvas.h"
#include "platform/text.h"

#include <cmath>
#include <optional>

namespace ondaline::media {

namespace {

constexpr double crawlerPollSeconds = 10.0;
constexpr std::size_t crawlerFileLimit = 1024 * 1024;

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
    const CrawlerConfig& cr = in.crawler;
    std::optional<CrawlerRun> crawler;
    if (cr.enabled && !crawlerText_.empty()) {
        std::string text = crawlerText_ + std::string(crawlerSeparator);
        if (cr.uppercase) text = platform::toUpperUnicode(text);
        if (scroll_.needsMeasuring(cr.uppercase)) scroll_.crawlerTextWidth = platform::Font(cr.fontName, cr.fontSize).width(text);
        const double x1 = cr.barX + std::abs(cr.barWidth) - scroll_.crawlerScrollOffset;
        // The copy before it carries the text on without a gap across the wrap.
        crawler = CrawlerRun{std::move(text), {x1, x1 - scroll_.crawlerTextWidth}};
    }
    platform::Canvas canvas(width_, height_);
    drawOverlays(canvas, {.picture = background_.get(),
                          .songText = in.songText,
                          .nowPlaying = in.nowPlaying,
                          .visualization = in.visualization,
                          .levels = in.levels,
                          .crawler = cr,
                          .crawlerRun = crawler ? &*crawler : nullptr});
    if (crawler) scroll_.advance(cr.speed);
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
