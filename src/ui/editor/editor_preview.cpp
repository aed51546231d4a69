// The preview: the stream's own drawing of the overlays, from the controls.
// What differs from the stream is only what goes in: the sample text, the
// mock levels (0.3 for bars past their end), the default image, and a fixed
// crawler sentence drawn once, standing still, 8 pixels inside its bar.

#include "ui/editor/overlay_editor_controller.h"

#include "media/overlay_drawing.h"
#include "platform/graphics/canvas.h"
#include "ui/editor/images_tab.h"
#include "ui/editor/now_playing_tab.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <string_view>

namespace ondaline::editor {

namespace {

constexpr int kFrameWidth = 1280, kFrameHeight = 720;
constexpr float kMissingLevel = 0.3f;
constexpr double kCrawlerInset = 8;
constexpr std::string_view kSampleCrawlerText =
    "This is sample crawler text \u25C6 Edit crawler.txt to change \u25C6 Lines separated by diamonds";

}  // namespace

struct OverlayEditorController::PreviewPicture {
    std::string path;
    QDateTime modified;
    qint64 size = 0;
    std::shared_ptr<const platform::Picture> picture;  // none: the file does not read as an image
};

void OverlayEditorController::updatePreview()
{
    if (!nowPlaying_ || !images_) return;

    const std::string imagePath = images_->defaultImagePath();
    std::shared_ptr<const platform::Picture> picture;
    if (!imagePath.empty()) {
        // Read again only when the path or the file changes.
        const QFileInfo file(QString::fromStdString(imagePath));
        const QDateTime modified = file.lastModified();
        const qint64 size = file.size();
        if (!previewPicture_ || previewPicture_->path != imagePath || previewPicture_->modified != modified ||
            previewPicture_->size != size) {
            previewPicture_ = std::make_shared<const PreviewPicture>(PreviewPicture{
                imagePath, modified, size,
                platform::Picture::load(imagePath, kFrameWidth, kFrameHeight, nullptr, config.namedFileRules())});
        }
        picture = previewPicture_->picture;
    }

    NowPlayingConfig nowPlaying = nowPlaying_->nowPlaying(config.nowPlaying);
    // A save keeps the last valid size; the picture shows the default size meanwhile.
    nowPlaying.fontSize = nowPlaying_->typedFontSize().value_or(NowPlayingConfig{}.fontSize);
    const std::string songText = media::joinSongFields(nowPlaying_->sampleText(), nowPlaying.delimiter,
                                                       nowPlaying.multiRow ? "\n" : " - ");

    const VisualizationConfig visualization = nowPlaying_->visualization();
    std::vector<float> levels = mockLevels_;
    const auto bars = static_cast<std::size_t>(std::clamp<std::int64_t>(visualization.barCount, 0,
                                                                        media::maxSpectrumBars));
    if (levels.size() < bars) levels.resize(bars, kMissingLevel);

    const CrawlerConfig crawler = nowPlaying_->crawler(config.crawler);
    std::optional<media::CrawlerRun> crawlerRun;
    if (crawler.enabled) {
        std::string text(kSampleCrawlerText);
        if (crawler.uppercase) text = platform::toUpperUnicode(text);
        crawlerRun = media::CrawlerRun{std::move(text), {crawler.barX + kCrawlerInset}};
    }

    platform::Canvas canvas(kFrameWidth, kFrameHeight);
    media::drawOverlays(canvas, {.picture = picture.get(),
                                 .songText = songText,
                                 .nowPlaying = nowPlaying,
                                 .visualization = visualization,
                                 .levels = levels,
                                 .crawler = crawler,
                                 .crawlerRun = crawlerRun ? &*crawlerRun : nullptr});
    std::vector<std::uint8_t> pixels = canvas.finish();
    previewFrame_ =
        QImage(pixels.data(), kFrameWidth, kFrameHeight, kFrameWidth * 4, QImage::Format_ARGB32_Premultiplied).copy();
    nowPlaying_->showPreview(previewFrame_);
}

}  // namespace ondaline::editor
