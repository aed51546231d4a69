// The preview: the stream's own drawing of the overlays, from the controls.
// What differs from the stream is only what goes in: the sample text, the
// mock levels (0.3 for bars past their end), the default image, and a fixed
// crawler sentence drawn once, standing still, 8 pixels inside its bar.

#include "ui/editor/overlay_editor_controller.h"

#include "media/overlay_drawing.h"
#include "platform/graphics/canvas.h"
#include "ui/editor/images_tab.h"
#include "ui/editor/number_text.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>

#include <algorithm>
#include <optional>
#include <string_view>

namespace ondaline::editor {

namespace {

constexpr int kFrameWidth = 1280, kFrameHeight = 720;
constexpr float kMissingLevel = 0.3f;
constexpr double kCrawlerInset = 8;
constexpr double kUnreadableFontSize = 24;
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
    if (!npPreviewImageView) return;

    const std::string imagePath = images_ ? images_->defaultImagePath() : std::string();
    std::shared_ptr<const platform::Picture> picture;
    if (!imagePath.empty()) {
        // Read again only when the path or the file changes.
        const QFileInfo file(QString::fromStdString(imagePath));
        const QDateTime modified = file.lastModified();
        const qint64 size = file.size();
        if (!previewPicture || previewPicture->path != imagePath || previewPicture->modified != modified ||
            previewPicture->size != size) {
            previewPicture = std::make_shared<const PreviewPicture>(PreviewPicture{
                imagePath, modified, size, platform::Picture::load(imagePath, kFrameWidth, kFrameHeight)});
        }
        picture = previewPicture->picture;
    }

    NowPlayingConfig nowPlaying = readNPConfigFromUI();
    // A save keeps the last valid size; the picture shows 24 meanwhile.
    if (npFontSizeField) {
        nowPlaying.fontSize = parseFontSize(npFontSizeField->text().toStdString()).value_or(kUnreadableFontSize);
    }
    const std::string sample = npSampleField ? npSampleField->text().toStdString() : std::string();
    const std::string songText = media::joinSongFields(sample, nowPlaying.delimiter,
                                                       nowPlaying.multiRow ? "\n" : " - ");

    const VisualizationConfig visualization = readVizConfigFromUI();
    std::vector<float> levels = mockLevels_;
    const auto bars = static_cast<std::size_t>(std::clamp<std::int64_t>(visualization.barCount, 0,
                                                                        media::maxSpectrumBars));
    if (levels.size() < bars) levels.resize(bars, kMissingLevel);

    const CrawlerConfig crawler = readCrawlerConfigFromUI();
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
    previewFrame =
        QImage(pixels.data(), kFrameWidth, kFrameHeight, kFrameWidth * 4, QImage::Format_ARGB32_Premultiplied).copy();

    // Shown whole inside the view's border, its aspect kept.
    const QSize room = npPreviewImageView->contentsRect().size();
    npPreviewImageView->setPixmap(QPixmap::fromImage(previewFrame.scaled(room, Qt::KeepAspectRatio,
                                                                         Qt::SmoothTransformation)));
}

}  // namespace ondaline::editor
