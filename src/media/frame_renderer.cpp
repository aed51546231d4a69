#include "media/frame_renderer.h"

#include "base/print.h"
#include "media/overlay_drawing.h"
#include "platform/file_rights/files.h"
#include "platform/graphics/canvas.h"
#include "platform/text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>

namespace ondaline::media {

namespace {

constexpr double crawlerPollSeconds = 10.0;
constexpr std::size_t crawlerFileLimit = 1024 * 1024;
constexpr std::size_t stepsKept = 8;

// Sorted, with overlapping and touching ranges joined.
FrameRenderer::Rows joined(FrameRenderer::Rows rows)
{
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    FrameRenderer::Rows out;
    for (const auto& r : rows) {
        if (!out.empty() && r.first <= out.back().end) {
            out.back().end = std::max(out.back().end, r.end);
        } else {
            out.push_back(r);
        }
    }
    return out;
}

}  // namespace

struct FrameRenderer::Buffers {
    static constexpr std::size_t kept = 2;  // beyond these, a buffer given back is freed

    struct Free {
        std::unique_ptr<Bytes> pixels;
        std::weak_ptr<const Bytes> was;  // the frame it last held
    };

    // A frame on a buffer of these: its buffer comes back when it goes.
    static Frame frame(const std::shared_ptr<Buffers>& self, std::unique_ptr<Bytes> pixels)
    {
        const Bytes* raw = pixels.get();
        Frame made(pixels.release(), [weak = std::weak_ptr<Buffers>(self)](const Bytes* gone) {
            if (const auto buffers = weak.lock()) buffers->giveBack(gone);
            else delete gone;
        });
        std::lock_guard guard(self->lock);
        self->inUse.emplace(raw, made);
        return made;
    }

    std::optional<Free> take()
    {
        std::lock_guard guard(lock);
        if (free.empty()) return std::nullopt;
        Free last = std::move(free.back());
        free.pop_back();
        return last;
    }

private:
    void giveBack(const Bytes* gone)
    {
        std::unique_ptr<Bytes> pixels(const_cast<Bytes*>(gone));
        std::lock_guard guard(lock);
        const auto found = inUse.find(gone);
        std::weak_ptr<const Bytes> was;
        if (found != inUse.end()) {
            was = std::move(found->second);
            inUse.erase(found);
        }
        if (free.size() < kept) free.push_back({std::move(pixels), std::move(was)});
    }

    std::mutex lock;
    std::map<const Bytes*, std::weak_ptr<const Bytes>> inUse;
    std::vector<Free> free;
};

struct FrameRenderer::Drawn {
    std::shared_ptr<const platform::Picture> picture;
    std::string songText;
    NowPlayingConfig nowPlaying;
    VisualizationConfig visualization;
    CrawlerConfig crawler;
    std::vector<FilledRect> bars;
    std::optional<CrawlerRun> crawlerRun;
};

FrameRenderer::FrameRenderer(int width, int height)
    : width_(width), height_(height), buffers_(std::make_shared<Buffers>())
{
}

FrameRenderer::~FrameRenderer() = default;

void FrameRenderer::setNamedFileRules(platform::NamedFileRules rules)
{
    std::lock_guard guard(lock_);
    fileRules_ = std::move(rules);
}

bool FrameRenderer::loadBackground(const std::string& path, std::string* problem)
{
    platform::NamedFileRules rules;
    {
        std::lock_guard guard(lock_);
        rules = fileRules_;
    }
    auto picture = platform::Picture::load(path, width_, height_, problem, rules);
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
    auto next = std::make_unique<Drawn>(Drawn{background_, in.songText, in.nowPlaying, in.visualization, cr, {}, {}});
    if (cr.enabled && !crawlerText_.empty()) {
        std::string text = crawlerText_ + std::string(crawlerSeparator);
        if (cr.uppercase) text = platform::toUpperUnicode(text);
        if (scroll_.needsMeasuring(cr.uppercase))
            scroll_.crawlerTextWidth = platform::Font(cr.fontName, cr.fontSize).width(text);
        const double x1 = cr.barX + std::abs(cr.barWidth) - scroll_.crawlerScrollOffset;
        // The copy before it carries the text on without a gap across the wrap.
        next->crawlerRun = CrawlerRun{std::move(text), {x1, x1 - scroll_.crawlerTextWidth}};
    }
    if (in.visualization.enabled) next->bars = spectrumBarSegments(in.levels, in.visualization);
    if (next->crawlerRun) scroll_.advance(cr.speed);

    const std::optional<Rows> rows = rowsToDraw(*next);
    if (rows && rows->empty()) {
        drawn_ = std::move(next);
        return last_;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(width_) * height_ * 4;
    std::unique_ptr<Bytes> pixels;
    std::weak_ptr<const Bytes> was;
    if (auto reused = buffers_->take(); reused && reused->pixels->size() == frameBytes) {
        pixels = std::move(reused->pixels);
        was = std::move(reused->was);
    } else {
        pixels = std::make_unique<Bytes>(frameBytes);
    }
    if (rows) {  // the other rows as the last frame has them
        const std::size_t rowBytes = static_cast<std::size_t>(width_) * 4;
        const std::optional<Rows> stale = rowsSince(was, last_);
        for (const auto& r : stale ? *stale : Rows{{0, height_}}) {
            std::memcpy(pixels->data() + r.first * rowBytes, last_->data() + r.first * rowBytes,
                        (r.end - r.first) * rowBytes);
        }
    }
    platform::Canvas canvas(pixels->data(), width_, height_);
    const OverlayScene scene{.picture = background_.get(),
                             .songText = in.songText,
                             .nowPlaying = in.nowPlaying,
                             .visualization = in.visualization,
                             .levels = in.levels,
                             .crawler = cr,
                             .crawlerRun = next->crawlerRun ? &*next->crawlerRun : nullptr};
    if (!rows) {
        drawOverlays(canvas, scene);
    } else {
        for (const auto& r : *rows) {
            canvas.save();
            canvas.clip(0, height_ - r.end, width_, r.end - r.first);  // the drawing space counts from the bottom
            drawOverlays(canvas, scene);
            canvas.restore();
        }
    }
    canvas.end();
    Frame frame = Buffers::frame(buffers_, std::move(pixels));
    steps_.push_back({frame, last_, rows});
    if (steps_.size() > stepsKept) steps_.erase(steps_.begin());
    last_ = frame;
    drawn_ = std::move(next);
    return frame;
}

// Whole (nothing) unless only the bars and the crawler moved; then the rows
// where they were or now are, with a pixel more each way for the smoothed
// edges of fractional positions.
std::optional<FrameRenderer::Rows> FrameRenderer::rowsToDraw(const Drawn& next) const
{
    if (!drawn_ || !last_ || last_->size() != static_cast<std::size_t>(width_) * height_ * 4) return std::nullopt;
    const Drawn& was = *drawn_;
    if (next.picture != was.picture || next.songText != was.songText || !(next.nowPlaying == was.nowPlaying) ||
        !(next.visualization == was.visualization) || !(next.crawler == was.crawler)) {
        return std::nullopt;
    }
    Rows rows;
    bool whole = false;
    auto add = [&](double low, double high) {  // drawing space: y upward from the bottom
        if (!std::isfinite(low) || !std::isfinite(high)) {
            whole = true;
            return;
        }
        const double first = std::clamp(std::floor(height_ - high) - 1, 0.0, static_cast<double>(height_));
        const double end = std::clamp(std::ceil(height_ - low) + 1, 0.0, static_cast<double>(height_));
        if (first < end) rows.push_back({static_cast<int>(first), static_cast<int>(end)});
    };

    if (next.bars != was.bars) {
        // The segments lit in one frame and not in the other.
        std::map<std::pair<double, double>, const FilledRect*> before;
        for (const auto& s : was.bars) before.emplace(std::pair{s.x, s.y}, &s);
        auto addSegment = [&](const FilledRect& s) {
            add(std::min(s.y, s.y + s.height), std::max(s.y, s.y + s.height));
        };
        for (const auto& s : next.bars) {
            const auto found = before.find({s.x, s.y});
            if (found != before.end() && *found->second == s) {
                before.erase(found);
            } else {
                addSegment(s);
            }
        }
        for (const auto& [at, s] : before) addSegment(*s);
    }

    const auto& a = next.crawlerRun;
    const auto& b = was.crawlerRun;
    if (a.has_value() != b.has_value() || (a && (a->text != b->text || a->starts != b->starts))) {
        const CrawlerConfig& cr = next.crawler;
        // Its text is clipped to its bar; a bar of negative size is drawn whole.
        if (!(cr.barWidth >= 0) || !(cr.barHeight >= 0)) return std::nullopt;
        add(cr.barY, cr.barY + cr.barHeight);
    }
    if (whole) return std::nullopt;
    rows = joined(std::move(rows));
    int total = 0;
    for (const auto& r : rows) total += r.end - r.first;
    // Most of the picture: drawing it whole costs less.
    if (4 * total > 3 * height_) return std::nullopt;
    return rows;
}

std::optional<FrameRenderer::Rows> FrameRenderer::changedRows(const Frame& earlier, const Frame& later) const
{
    if (!earlier || !later) return std::nullopt;
    if (earlier == later) return Rows{};
    std::lock_guard guard(lock_);
    return rowsSince(earlier, later);
}

std::optional<FrameRenderer::Rows> FrameRenderer::rowsSince(const std::weak_ptr<const Bytes>& start,
                                                            const Frame& later) const
{
    // Frames between the two may be gone: a step knows them by their
    // ownership, which no later frame can share.
    auto same = [](const std::weak_ptr<const Bytes>& a, const std::weak_ptr<const Bytes>& b) {
        return !a.owner_before(b) && !b.owner_before(a);
    };
    const std::weak_ptr<const Bytes> none;
    if (!later || same(start, none)) return std::nullopt;
    Rows rows;
    std::weak_ptr<const Bytes> at = later;
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
        if (!same(step->frame, at)) continue;
        if (!step->rows) return std::nullopt;
        rows.insert(rows.end(), step->rows->begin(), step->rows->end());
        at = step->from;
        if (same(at, start)) return joined(std::move(rows));
    }
    return std::nullopt;
}

void FrameRenderer::pollCrawlerFile(const std::string& path, double now)
{
    platform::NamedFileRules rules;
    {
        std::lock_guard guard(lock_);
        if (now - crawlerLastReadTime_ < crawlerPollSeconds) return;
        crawlerLastReadTime_ = now;
        rules = fileRules_;
    }
    std::optional<std::string> text;
    std::string problem;
    if (!path.empty()) {
        const platform::FileRead file = platform::readNamedFile(path, rules, crawlerFileLimit);
        if (file.contents && platform::isValidUTF8(*file.contents))
            text = crawlerTextFromFile(platform::withControlsShown(*file.contents, platform::LineBreaks::keep));
        if (!file.contents && file.problem != platform::FileProblem::missing)
            problem = path + ": " + file.reason(crawlerFileLimit);
    }
    bool newProblem = false;
    {
        std::lock_guard guard(lock_);
        if (text) {
            if (*text != crawlerText_) {
                crawlerText_ = *text;
                scroll_.restart();
            }
        } else if (!crawlerText_.empty()) {
            crawlerText_.clear();
            scroll_.restart();
        }
        newProblem = problem != crawlerProblem_ && !problem.empty();
        crawlerProblem_ = problem;
    }
    if (newProblem) print("Ondaline: ⚠ Crawler file not used — " + problem);
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
