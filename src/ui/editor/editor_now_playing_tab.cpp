// The "Now Playing" tab: the preview on top and, below it, a scrolling pane
// with the settings of the now-playing text, the spectrum bars and the
// crawler. Every control starts at a fixed value; loadConfigToUI() replaces
// most of them right after the window is built.

#include "ui/editor/overlay_editor_controller.h"

#include "ui/editor/now_playing_fonts.h"

#include "models/overlay_configs.h"
#include "models/station_path.h"
#include "ui/console/flipped_view.h"
#include "ui/editor/color_well.h"
#include "ui/editor/double_slider.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/number_text.h"
#include "ui/editor/tab_parts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStringList>

#include <tuple>
#include <utility>

namespace ondaline::editor {

namespace {

constexpr double kTabHeight = 740;
constexpr int kDocumentWidth = 660;

}  // namespace

void OverlayEditorController::buildNowPlayingTab(QWidget& tab)
{
    using Action = void (OverlayEditorController::*)();
    const Action refresh = &OverlayEditorController::refreshPreview;

    // Tab view: the heading, the preview and the settings pane.
    QLabel* previewLabel = makeLabel(QStringLiteral("Preview"), true);
    previewLabel->setParent(&tab);
    previewLabel->setGeometry(fromBottomLeft(16, 710, 80, 18, kTabHeight));

    npPreviewImageView = new QLabel(&tab);
    npPreviewImageView->setGeometry(fromBottomLeft(16, 346, 600, 338, kTabHeight));
    npPreviewImageView->setAlignment(Qt::AlignCenter);
    npPreviewImageView->setStyleSheet(
        QStringLiteral("QLabel { background-color: black; border: 1px solid rgb(77, 77, 77); border-radius: 4px; }"));

    const ScrollingPane settings = addScrollingPane(tab, fromBottomLeft(0, 0, 660, 330, kTabHeight),
                                                    {kDocumentWidth, 900});
    npSettingsScrollView = settings.pane;
    QWidget* const document = settings.document;

    // Placement within the running row: y is the row's top in the document.
    int y = 8;
    const auto label = [&](const QString& text, int x, int width, bool bold = false) {
        QLabel* item = makeLabel(text, bold);
        item->setParent(document);
        item->setGeometry(x, y, width, 18);
        return item;
    };
    const auto valueLabel = [&](const QString& text, int x, int width, bool rightAligned) {
        QLabel* item = label(text, x, width);
        if (rightAligned) item->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return item;
    };
    const auto field = [&](int x, int width, const QString& placeholder = {}) {
        auto* item = new QLineEdit(document);
        item->setGeometry(x, y - 2, width, 24);
        item->setPlaceholderText(placeholder);
        return item;
    };
    const auto refreshingField = [&](int x, int width, const QString& placeholder = {}) {
        QLineEdit* item = field(x, width, placeholder);
        connect(item, &QLineEdit::editingFinished, this, [this] { refreshPreview(); });
        return item;
    };
    const auto sizeField = [&](int x, int width) {
        QLineEdit* item = refreshingField(x, width);
        item->setAlignment(Qt::AlignCenter);
        return item;
    };
    const auto slider = [&](int x, int width, double value, double minimum, double maximum, Action action) {
        auto* item = new DoubleSlider(value, minimum, maximum, document);
        item->setGeometry(x, y - 2, width, 24);
        item->action = [this, action] { (this->*action)(); };
        return item;
    };
    const auto well = [&](int x, int width = 40, int height = 24) {
        auto* item = new ColorWell(document);
        item->setGeometry(x, y - 2, width, height);
        item->action = [this] { refreshPreview(); };
        return item;
    };
    const auto popup = [&](int x, int width, const QStringList& items, int lift = 2) {
        auto* item = new QComboBox(document);
        item->addItems(items);
        item->setGeometry(x, y - lift, width, 26);
        connect(item, &QComboBox::activated, this, [this] { refreshPreview(); });
        return item;
    };
    const auto check = [&](const QString& text, int x, int width) {
        auto* item = new QCheckBox(text, document);
        item->setGeometry(x, y, width, 18);
        connect(item, &QCheckBox::clicked, this, [this] { refreshPreview(); });
        return item;
    };
    const auto groupCheck = [&](const QString& text, int x, int width) {
        QCheckBox* item = check(text, x, width);
        QFont font = item->font();
        font.setBold(true);
        font.setPixelSize(13);
        item->setFont(font);
        setTextColor(*item, headingColor());
        return item;
    };
    // A box's place on the frame: H and V on one row; W and Ht, when it has
    // a size, on the next.
    const auto positionRow = [&](double h, double v) {
        label(QStringLiteral("H:"), 16, 18);
        DoubleSlider* horizontal = slider(36, 284, h, 0, 1280, refresh);
        label(QStringLiteral("V:"), 340, 16);
        return std::pair{horizontal, slider(358, 286, v, 0, 720, refresh)};
    };
    const auto sizeRow = [&](double w, double minW, double ht, double minHt, double maxHt) {
        label(QStringLiteral("W:"), 16, 22);
        DoubleSlider* width = slider(40, 280, w, minW, 1280, refresh);
        label(QStringLiteral("Ht:"), 340, 22);
        return std::pair{width, slider(364, 280, ht, minHt, maxHt, refresh)};
    };
    const auto separator = [&] { addRule(*document, {16, y, 628, 1}); };

    // Every control starts at the records' defaults.
    const NowPlayingConfig np;
    const VisualizationConfig viz;
    const CrawlerConfig crawler;
    // Their values beside them, written as the sliders write them when moved.
    const auto whole = [](double value, const char* suffix) {
        return QString::fromStdString(wholeNumberText(value) + suffix);
    };
    const auto oneDecimal = [](double value) { return QString::fromStdString(oneDecimalText(value)); };

    // Source and display.
    label(QStringLiteral("Sample Text:"), 16, 82);
    npSampleField = refreshingField(100, 544, QStringLiteral("Sample text using your delimiter"));
    npSampleField->setText(QStringLiteral("Artist Name\tAlbum Title\tSong Title"));
    y += 36;

    label(QStringLiteral("Source File:"), 16, 80, true);
    npFilePathField = field(98, 466, QString::fromStdString(StationPath::songFile()));
    auto* browse = new QPushButton(QStringLiteral("Browse\u2026"), document);
    browse->setAutoDefault(false);
    browse->setGeometry(572, y - 4, 80, 28);
    connect(browse, &QPushButton::clicked, this, [this] { browseNPFile(); });
    y += 36;

    label(QStringLiteral("Delimiter:"), 16, 70, true);
    QStringList delimiters;
    for (const auto& [delimiter, title] : NowPlayingConfig::delimiterOptions)
        delimiters << QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    npDelimiterPopup = popup(88, 100, delimiters);
    label(QStringLiteral("Display:"), 201, 55, true);
    npDisplayPopup = popup(258, 120, {QStringLiteral("Single Row"), QStringLiteral("Multi Row")});
    npPrefixCheck = check(QStringLiteral("Show \"Now Playing:\" prefix"), 396, 220);
    setTextColor(*npPrefixCheck, QColor::fromRgbF(0.75f, 0.75f, 0.75f));
    y += 34;
    separator();
    y += 12;

    // Text settings.
    label(QStringLiteral("Text Settings"), 16, 120, true);
    y += 28;
    label(QStringLiteral("Font:"), 16, 35);
    npFontPopup = popup(54, 180, nowPlayingFonts());
    label(QStringLiteral("Size:"), 244, 32);
    npFontSizeField = sizeField(278, 40);
    label(QStringLiteral("Color:"), 332, 40);
    npTextColorWell = well(374);
    y += 34;
    std::tie(npHorizSlider, npVertSlider) = positionRow(np.textX, np.textY);
    y += 34;
    separator();
    y += 12;

    // Background block.
    npBgCheck = groupCheck(QStringLiteral("Background Block"), 16, 160);
    label(QStringLiteral("Color:"), 182, 40);
    npBgColorWell = well(222, 36, 22);
    label(QStringLiteral("Opacity:"), 272, 54);
    npBgAlphaSlider = slider(328, 268, np.bgAlpha * 100, 0, 100, &OverlayEditorController::bgAlphaSliderChanged);
    npBgAlphaLabel = valueLabel(whole(np.bgAlpha * 100, "%"), 604, 44, true);
    y += 32;
    std::tie(npBgHorizSlider, npBgVertSlider) = positionRow(np.bgX, np.bgY);
    y += 32;
    std::tie(npBgWidthSlider, npBgHeightSlider) = sizeRow(np.bgWidth, 10, np.bgHeight, 10, 720);
    y += 38;
    separator();
    y += 12;

    // Visualization.
    vizEnableCheck = groupCheck(QStringLiteral("Visualization"), 16, 130);
    label(QStringLiteral("Opacity:"), 166, 54);
    vizOpacitySlider = slider(222, 368, viz.opacity * 100, 0, 100, &OverlayEditorController::vizOpacityChanged);
    vizOpacityLabel = valueLabel(whole(viz.opacity * 100, "%"), 604, 44, true);
    y += 32;
    label(QStringLiteral("Sensitivity:"), 16, 76);
    vizSensSlider = slider(94, 496, viz.sensitivity, 0.3, 4.0, &OverlayEditorController::vizSensChanged);
    vizSensLabel = valueLabel(oneDecimal(viz.sensitivity) + QChar(0x00D7), 598, 50, true);
    y += 32;
    label(QStringLiteral("Bottom Color:"), 16, 90);
    vizBottomColorWell = well(108);
    vizBottomColorWell->setColor({viz.colorBottomR, viz.colorBottomG, viz.colorBottomB});
    label(QStringLiteral("Top Color:"), 340, 72);
    vizTopColorWell = well(414);
    vizTopColorWell->setColor({viz.colorTopR, viz.colorTopG, viz.colorTopB});
    y += 32;
    label(QStringLiteral("Bars:"), 16, 34);
    vizBarCountSlider = slider(52, 232, double(viz.barCount), 5, 40, &OverlayEditorController::vizBarCountChanged);
    vizBarCountLabel = valueLabel(whole(double(viz.barCount), ""), 286, 30, false);
    label(QStringLiteral("Segments:"), 340, 66);
    vizSegCountSlider = slider(408, 198, double(viz.segmentCount), 3, 24, &OverlayEditorController::vizSegCountChanged);
    vizSegCountLabel = valueLabel(whole(double(viz.segmentCount), ""), 608, 30, false);
    y += 32;
    label(QStringLiteral("Seg. Gap:"), 16, 60);
    vizSegGapSlider = slider(78, 242, viz.segmentGap, 0, 8, &OverlayEditorController::vizSegGapChanged);
    vizSegGapLabel = valueLabel(whole(viz.segmentGap, "px"), 324, 40, false);
    y += 32;
    std::tie(vizHorizSlider, vizVertSlider) = positionRow(viz.posX, viz.posY);
    y += 32;
    std::tie(vizWidthSlider, vizHeightSlider) = sizeRow(viz.width, 50, viz.height, 30, 720);
    y += 40;
    separator();
    y += 12;

    // Crawler.
    crawlerEnableCheck = groupCheck(QStringLiteral("Crawler"), 16, 100);
    crawlerUppercaseCheck = check(QStringLiteral("All Uppercase"), 126, 120);
    y += 28;
    label(QStringLiteral("Speed:"), 16, 48);
    crawlerSpeedSlider = slider(66, 528, crawler.speed, 0.5, 10, &OverlayEditorController::crawlerSpeedChanged);
    crawlerSpeedLabel = valueLabel(oneDecimal(crawler.speed), 604, 44, true);
    y += 32;
    label(QStringLiteral("Font:"), 16, 34);
    crawlerFontPopup = popup(52, 268,
                             {QStringLiteral("Helvetica-Bold"), QStringLiteral("Helvetica"), QStringLiteral("Arial"),
                              QStringLiteral("Arial-BoldMT"), QStringLiteral("Georgia-Bold"),
                              QStringLiteral("TimesNewRomanPS-BoldMT"), QStringLiteral("Courier-Bold"),
                              QStringLiteral("Menlo-Bold"), QStringLiteral("AvenirNext-Bold")},
                             3);
    label(QStringLiteral("Size:"), 340, 34);
    crawlerFontSizeField = sizeField(376, 50);
    crawlerFontSizeField->setText(QString::number(crawler.fontSize));
    y += 32;
    label(QStringLiteral("Text Color:"), 16, 76);
    crawlerTextColorWell = well(94);
    crawlerTextColorWell->setColor({crawler.textColorR, crawler.textColorG, crawler.textColorB});
    label(QStringLiteral("Bar Color:"), 340, 68);
    crawlerBarColorWell = well(410);
    crawlerBarColorWell->setColor({crawler.barColorR, crawler.barColorG, crawler.barColorB});
    y += 32;
    label(QStringLiteral("Bar Opacity:"), 16, 80);
    crawlerBarAlphaSlider = slider(98, 492, crawler.barAlpha * 100, 0, 100,
                                   &OverlayEditorController::crawlerBarAlphaChanged);
    crawlerBarAlphaLabel = valueLabel(whole(crawler.barAlpha * 100, "%"), 604, 44, true);
    y += 32;
    std::tie(crawlerBarHorizSlider, crawlerBarVertSlider) = positionRow(crawler.barX, crawler.barY);
    y += 32;
    std::tie(crawlerBarWidthSlider, crawlerBarHeightSlider) = sizeRow(crawler.barWidth, 50, crawler.barHeight, 16, 200);
    y += 40;

    document->resize(kDocumentWidth, y);  // 820: the document ends below the last row
}

}  // namespace ondaline::editor
