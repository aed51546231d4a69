// The Now Playing tab's controls, their starting values and the preview's
// view.

#include "ui/editor/now_playing_tab.h"

#include "ui/editor/now_playing_fonts.h"

#include "models/overlay_configs.h"
#include "models/station_path.h"
#include "ui/editor/color_well.h"
#include "ui/editor/double_slider.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/number_text.h"
#include "ui/editor/tab_parts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

#include <tuple>
#include <utility>

namespace ondaline::editor {

namespace {

constexpr double kTabHeight = 740;
constexpr int kDocumentWidth = 660;

// The values beside the sliders, as the sliders write them when moved.
QString wholeText(double value) { return QString::fromStdString(wholeNumberText(value)); }
QString percentText(double value) { return wholeText(value) + u'%'; }
QString pixelText(double value) { return wholeText(value) + QStringLiteral("px"); }
QString oneDecimal(double value) { return QString::fromStdString(oneDecimalText(value)); }
QString timesText(double value) { return oneDecimal(value) + QChar(0x00D7); }

}  // namespace

NowPlayingTab::NowPlayingTab(QWidget& page, TabLink link) : link_(std::move(link))
{
    // Tab view: the heading, the preview and the settings pane.
    QLabel* previewLabel = makeLabel(QStringLiteral("Preview"), true);
    previewLabel->setParent(&page);
    previewLabel->setGeometry(fromBottomLeft(16, 710, 80, 18, kTabHeight));

    npPreviewImageView_ = new QLabel(&page);
    npPreviewImageView_->setGeometry(fromBottomLeft(16, 346, 600, 338, kTabHeight));
    npPreviewImageView_->setAlignment(Qt::AlignCenter);
    npPreviewImageView_->setStyleSheet(
        QStringLiteral("QLabel { background-color: black; border: 1px solid rgb(77, 77, 77); border-radius: 4px; }"));

    QWidget& document =
        *addScrollingPane(page, fromBottomLeft(0, 0, 660, 330, kTabHeight), {kDocumentWidth, 900}).document;
    PaneRows rows(document, link_.changed);
    int& y = rows.y;

    const NowPlayingConfig np;
    const VisualizationConfig viz;
    const CrawlerConfig crawler;

    // Source and display.
    rows.label(QStringLiteral("Sample Text:"), 16, 82);
    npSampleField_ = rows.refreshingField(100, 544, QStringLiteral("Sample text using your delimiter"));
    npSampleField_->setText(QStringLiteral("Artist Name\tAlbum Title\tSong Title"));
    y += 36;

    rows.label(QStringLiteral("Source File:"), 16, 80, true);
    npFilePathField_ = rows.field(98, 466, QString::fromStdString(StationPath::songFile()));
    auto* browse = new QPushButton(QStringLiteral("Browse\u2026"), &document);
    browse->setAutoDefault(false);
    browse->setGeometry(572, y - 4, 80, 28);
    QObject::connect(browse, &QPushButton::clicked, browse, [this] { browseSourceFile(); });
    y += 36;

    rows.label(QStringLiteral("Delimiter:"), 16, 70, true);
    QStringList delimiters;
    for (const auto& [delimiter, title] : NowPlayingConfig::delimiterOptions)
        delimiters << QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    npDelimiterPopup_ = rows.popup(88, 100, delimiters);
    rows.label(QStringLiteral("Display:"), 201, 55, true);
    npDisplayPopup_ = rows.popup(258, 120, {QStringLiteral("Single Row"), QStringLiteral("Multi Row")});
    npPrefixCheck_ = rows.check(QStringLiteral("Show \"Now Playing:\" prefix"), 396, 220);
    setTextColor(*npPrefixCheck_, QColor::fromRgbF(0.75f, 0.75f, 0.75f));
    y += 34;
    rows.separator();
    y += 12;

    // Text settings.
    rows.label(QStringLiteral("Text Settings"), 16, 120, true);
    y += 28;
    rows.label(QStringLiteral("Font:"), 16, 35);
    npFontPopup_ = rows.popup(54, 180, nowPlayingFonts());
    rows.label(QStringLiteral("Size:"), 244, 32);
    npFontSizeField_ = rows.sizeField(278, 40);
    rows.label(QStringLiteral("Color:"), 332, 40);
    npTextColorWell_ = rows.well(374);
    y += 34;
    std::tie(npHorizSlider_, npVertSlider_) = rows.positionRow(np.textX, np.textY);
    y += 34;
    rows.separator();
    y += 12;

    // Background block.
    npBgCheck_ = rows.groupCheck(QStringLiteral("Background Block"), 16, 160);
    rows.label(QStringLiteral("Color:"), 182, 40);
    npBgColorWell_ = rows.well(222, 36, 22);
    rows.label(QStringLiteral("Opacity:"), 272, 54);
    npBgAlpha_ = rows.valueSlider(328, 268, np.bgAlpha * 100, 0, 100, percentText, 604, 44, true);
    y += 32;
    npBgBox_ = rows.boxRows(np.bgX, np.bgY, np.bgWidth, 10, np.bgHeight, 10, 720);
    y += 38;
    rows.separator();
    y += 12;

    // Visualization.
    vizEnableCheck_ = rows.groupCheck(QStringLiteral("Visualization"), 16, 130);
    rows.label(QStringLiteral("Opacity:"), 166, 54);
    vizOpacity_ = rows.valueSlider(222, 368, viz.opacity * 100, 0, 100, percentText, 604, 44, true);
    y += 32;
    rows.label(QStringLiteral("Sensitivity:"), 16, 76);
    vizSens_ = rows.valueSlider(94, 496, viz.sensitivity, 0.3, 4.0, timesText, 598, 50, true);
    y += 32;
    rows.label(QStringLiteral("Bottom Color:"), 16, 90);
    vizBottomColorWell_ = rows.well(108);
    vizBottomColorWell_->setColor({viz.colorBottomR, viz.colorBottomG, viz.colorBottomB});
    rows.label(QStringLiteral("Top Color:"), 340, 72);
    vizTopColorWell_ = rows.well(414);
    vizTopColorWell_->setColor({viz.colorTopR, viz.colorTopG, viz.colorTopB});
    y += 32;
    rows.label(QStringLiteral("Bars:"), 16, 34);
    vizBarCount_ = rows.valueSlider(52, 232, double(viz.barCount), 5, 40, wholeText, 286, 30, false);
    rows.label(QStringLiteral("Segments:"), 340, 66);
    vizSegCount_ = rows.valueSlider(408, 198, double(viz.segmentCount), 3, 24, wholeText, 608, 30, false);
    y += 32;
    rows.label(QStringLiteral("Seg. Gap:"), 16, 60);
    vizSegGap_ = rows.valueSlider(78, 242, viz.segmentGap, 0, 8, pixelText, 324, 40, false);
    y += 32;
    vizBox_ = rows.boxRows(viz.posX, viz.posY, viz.width, 50, viz.height, 30, 720);
    y += 40;
    rows.separator();
    y += 12;

    // Crawler.
    crawlerEnableCheck_ = rows.groupCheck(QStringLiteral("Crawler"), 16, 100);
    crawlerUppercaseCheck_ = rows.check(QStringLiteral("All Uppercase"), 126, 120);
    y += 28;
    rows.label(QStringLiteral("Speed:"), 16, 48);
    crawlerSpeed_ = rows.valueSlider(66, 528, crawler.speed, 0.5, 10, oneDecimal, 604, 44, true);
    y += 32;
    rows.label(QStringLiteral("Font:"), 16, 34);
    crawlerFontPopup_ = rows.popup(52, 268,
                                   {QStringLiteral("Helvetica-Bold"), QStringLiteral("Helvetica"),
                                    QStringLiteral("Arial"), QStringLiteral("Arial-BoldMT"),
                                    QStringLiteral("Georgia-Bold"), QStringLiteral("TimesNewRomanPS-BoldMT"),
                                    QStringLiteral("Courier-Bold"), QStringLiteral("Menlo-Bold"),
                                    QStringLiteral("AvenirNext-Bold")},
                                   3);
    rows.label(QStringLiteral("Size:"), 340, 34);
    crawlerFontSizeField_ = rows.sizeField(376, 50);
    crawlerFontSizeField_->setText(QString::number(crawler.fontSize));
    y += 32;
    rows.label(QStringLiteral("Text Color:"), 16, 76);
    crawlerTextColorWell_ = rows.well(94);
    crawlerTextColorWell_->setColor({crawler.textColorR, crawler.textColorG, crawler.textColorB});
    rows.label(QStringLiteral("Bar Color:"), 340, 68);
    crawlerBarColorWell_ = rows.well(410);
    crawlerBarColorWell_->setColor({crawler.barColorR, crawler.barColorG, crawler.barColorB});
    y += 32;
    rows.label(QStringLiteral("Bar Opacity:"), 16, 80);
    crawlerBarAlpha_ = rows.valueSlider(98, 492, crawler.barAlpha * 100, 0, 100, percentText, 604, 44, true);
    y += 32;
    crawlerBarBox_ = rows.boxRows(crawler.barX, crawler.barY, crawler.barWidth, 50, crawler.barHeight, 16, 200);
    y += 40;

    document.resize(kDocumentWidth, y);  // 820: the document ends below the last row
}

std::string NowPlayingTab::sampleText() const { return npSampleField_->text().toStdString(); }

std::optional<double> NowPlayingTab::typedFontSize() const
{
    return parseFontSize(npFontSizeField_->text().toStdString());
}

void NowPlayingTab::showPreview(const QImage& frame) const
{
    const QSize room = npPreviewImageView_->contentsRect().size();
    npPreviewImageView_->setPixmap(QPixmap::fromImage(frame.scaled(room, Qt::KeepAspectRatio,
                                                                   Qt::SmoothTransformation)));
}

void NowPlayingTab::browseSourceFile()
{
    const auto file = link_.chooseFile(QStringLiteral("Select Now Playing File"), {QStringLiteral("text/plain")});
    if (!file) return;
    npFilePathField_->setText(*file);
    link_.changed(Redraw::none);
}

}  // namespace ondaline::editor
