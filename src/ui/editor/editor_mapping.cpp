// The two-way mapping between the edited copy and the editor's controls.
// Values set in code are never reported as user actions by these controls,
// so a load runs no action and schedules no save.

#include "ui/editor/overlay_editor_controller.h"

#include "models/station_path.h"
#include "ui/editor/color_well.h"
#include "ui/editor/double_slider.h"
#include "ui/editor/images_tab.h"
#include "ui/editor/number_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <cmath>
#include <string_view>

namespace ondaline::editor {

namespace {

QString qstring(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

void setText(QLineEdit* field, std::string_view text)
{
    if (field) field->setText(qstring(text));
}

void setLabel(QLabel* label, const QString& text)
{
    if (label) label->setText(text);
}

void setValue(DoubleSlider* slider, double value)
{
    if (slider) slider->setValue(value);
}

void setChecked(QCheckBox* box, bool on)
{
    if (box) box->setChecked(on);
}

void setColor(ColorWell* well, double red, double green, double blue)
{
    if (well) well->setColor({red, green, blue});
}

QString percentText(double fraction) { return qstring(wholeNumberText(fraction * 100)) + u'%'; }

// Exact and case-sensitive; -1 when no item has that title.
int indexOfTitle(const QComboBox& popup, std::string_view title)
{
    const QString wanted = qstring(title);
    for (int i = 0; i < popup.count(); ++i) {
        if (popup.itemText(i) == wanted) return i;
    }
    return -1;
}

// A title the pop-up does not list selects nothing, so that a save without
// an edit keeps the stored name instead of whatever the pop-up showed.
void selectTitle(QComboBox* popup, std::string_view title)
{
    if (popup) popup->setCurrentIndex(indexOfTitle(*popup, title));
}

int delimiterIndex(std::string_view delimiter)
{
    const auto& options = NowPlayingConfig::delimiterOptions;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i].first == delimiter) return static_cast<int>(i);
    }
    return -1;
}

double sliderValue(const DoubleSlider* slider, double fallback) { return slider ? slider->value() : fallback; }

bool isChecked(const QCheckBox* box, bool fallback) { return box ? box->checkState() == Qt::Checked : fallback; }

// The integer part of the slider value, truncated, not rounded.
std::int64_t countValue(const DoubleSlider* slider, std::int64_t fallback)
{
    if (!slider) return fallback;
    const double whole = std::trunc(slider->value());
    if (!(whole >= -0x1p63 && whole < 0x1p63)) return fallback;  // no range is that wide
    return static_cast<std::int64_t>(whole);
}

// Leaves the components as they are when there is no well.
void readColor(const ColorWell* well, double& red, double& green, double& blue)
{
    if (!well) return;
    const ColorWell::RGB color = well->color();
    red = color.red;
    green = color.green;
    blue = color.blue;
}

std::optional<double> fontSizeIn(const QLineEdit* field)
{
    if (!field) return std::nullopt;
    return parseFontSize(field->text().toStdString());
}

}  // namespace

void OverlayEditorController::loadConfigToUI()
{
    const NowPlayingConfig& np = config.nowPlaying;
    setText(npFilePathField, np.filePath);
    if (npFilePathField) {
        // The station folder may have moved since the last opening.
        npFilePathField->setPlaceholderText(qstring(StationPath::songFile()));
    }
    if (npDelimiterPopup) npDelimiterPopup->setCurrentIndex(delimiterIndex(np.delimiter));
    if (npDisplayPopup) npDisplayPopup->setCurrentIndex(np.multiRow ? 1 : 0);
    setChecked(npPrefixCheck, np.showPrefix);
    setValue(npHorizSlider, np.textX);
    setValue(npVertSlider, np.textY);
    selectTitle(npFontPopup, np.fontName);
    setText(npFontSizeField, shortestNumberText(np.fontSize));
    setColor(npTextColorWell, np.textColorR, np.textColorG, np.textColorB);
    setChecked(npBgCheck, np.showBackground);
    setValue(npBgHorizSlider, np.bgX);
    setValue(npBgVertSlider, np.bgY);
    setValue(npBgWidthSlider, np.bgWidth);
    setValue(npBgHeightSlider, np.bgHeight);
    setColor(npBgColorWell, np.bgColorR, np.bgColorG, np.bgColorB);
    if (npBgAlphaSlider) npBgAlphaSlider->setFraction(np.bgAlpha, 100);
    setLabel(npBgAlphaLabel, percentText(np.bgAlpha));

    const VisualizationConfig& viz = config.visualization;
    setChecked(vizEnableCheck, viz.enabled);
    setValue(vizBarCountSlider, static_cast<double>(viz.barCount));
    setLabel(vizBarCountLabel, QString::number(viz.barCount));
    setValue(vizSegCountSlider, static_cast<double>(viz.segmentCount));
    setLabel(vizSegCountLabel, QString::number(viz.segmentCount));
    setValue(vizSegGapSlider, viz.segmentGap);
    setLabel(vizSegGapLabel, qstring(wholeNumberText(viz.segmentGap)) + QStringLiteral("px"));
    setValue(vizHorizSlider, viz.posX);
    setValue(vizVertSlider, viz.posY);
    setValue(vizWidthSlider, viz.width);
    setValue(vizHeightSlider, viz.height);
    if (vizOpacitySlider) vizOpacitySlider->setFraction(viz.opacity, 100);
    setLabel(vizOpacityLabel, percentText(viz.opacity));
    setValue(vizSensSlider, viz.sensitivity);
    setLabel(vizSensLabel, qstring(oneDecimalText(viz.sensitivity)) + QChar(0x00D7));
    setColor(vizBottomColorWell, viz.colorBottomR, viz.colorBottomG, viz.colorBottomB);
    setColor(vizTopColorWell, viz.colorTopR, viz.colorTopG, viz.colorTopB);
    updateMockAnimation();  // follows the check box just set

    const CrawlerConfig& crawler = config.crawler;
    setChecked(crawlerEnableCheck, crawler.enabled);
    setValue(crawlerBarHorizSlider, crawler.barX);
    setValue(crawlerBarVertSlider, crawler.barY);
    setValue(crawlerBarWidthSlider, crawler.barWidth);
    setValue(crawlerBarHeightSlider, crawler.barHeight);
    setColor(crawlerBarColorWell, crawler.barColorR, crawler.barColorG, crawler.barColorB);
    if (crawlerBarAlphaSlider) crawlerBarAlphaSlider->setFraction(crawler.barAlpha, 100);
    setLabel(crawlerBarAlphaLabel, percentText(crawler.barAlpha));
    setColor(crawlerTextColorWell, crawler.textColorR, crawler.textColorG, crawler.textColorB);
    selectTitle(crawlerFontPopup, crawler.fontName);
    setText(crawlerFontSizeField, shortestNumberText(crawler.fontSize));
    setValue(crawlerSpeedSlider, crawler.speed);
    setLabel(crawlerSpeedLabel, qstring(oneDecimalText(crawler.speed)));
    setChecked(crawlerUppercaseCheck, crawler.uppercase);

    if (images_) images_->load(config);
    updatePreview();
}

NowPlayingConfig OverlayEditorController::readNPConfigFromUI() const
{
    // Merged into the stored record: a missing control, an unlisted choice or
    // an unreadable size keeps what is stored.
    NowPlayingConfig np = config.nowPlaying;
    if (npFilePathField) {
        // Taken only when changed: bytes that are not UTF-8 do not survive QString.
        const QString text = npFilePathField->text();
        if (text != qstring(np.filePath)) np.filePath = text.toStdString();
    }
    if (npDelimiterPopup) {
        const int index = npDelimiterPopup->currentIndex();
        const auto& options = NowPlayingConfig::delimiterOptions;
        if (index >= 0 && static_cast<std::size_t>(index) < options.size()) np.delimiter = options[index].first;
    }
    if (npDisplayPopup) np.multiRow = npDisplayPopup->currentIndex() == 1;
    np.showPrefix = isChecked(npPrefixCheck, np.showPrefix);
    np.textX = sliderValue(npHorizSlider, np.textX);
    np.textY = sliderValue(npVertSlider, np.textY);
    if (npFontPopup && npFontPopup->currentIndex() >= 0) np.fontName = npFontPopup->currentText().toStdString();
    np.fontSize = fontSizeIn(npFontSizeField).value_or(np.fontSize);
    readColor(npTextColorWell, np.textColorR, np.textColorG, np.textColorB);
    np.showBackground = isChecked(npBgCheck, np.showBackground);
    np.bgX = sliderValue(npBgHorizSlider, np.bgX);
    np.bgY = sliderValue(npBgVertSlider, np.bgY);
    np.bgWidth = sliderValue(npBgWidthSlider, np.bgWidth);
    np.bgHeight = sliderValue(npBgHeightSlider, np.bgHeight);
    readColor(npBgColorWell, np.bgColorR, np.bgColorG, np.bgColorB);
    if (npBgAlphaSlider) np.bgAlpha = npBgAlphaSlider->fraction(100);
    return np;
}

void OverlayEditorController::saveNPConfigFromUI() { config.nowPlaying = readNPConfigFromUI(); }

VisualizationConfig OverlayEditorController::readVizConfigFromUI() const
{
    // Rebuilt from the controls alone; a missing control gives the default.
    VisualizationConfig viz;
    viz.enabled = isChecked(vizEnableCheck, viz.enabled);
    viz.barCount = countValue(vizBarCountSlider, viz.barCount);
    viz.segmentCount = countValue(vizSegCountSlider, viz.segmentCount);
    viz.segmentGap = sliderValue(vizSegGapSlider, viz.segmentGap);
    viz.posX = sliderValue(vizHorizSlider, viz.posX);
    viz.posY = sliderValue(vizVertSlider, viz.posY);
    viz.width = sliderValue(vizWidthSlider, viz.width);
    viz.height = sliderValue(vizHeightSlider, viz.height);
    readColor(vizBottomColorWell, viz.colorBottomR, viz.colorBottomG, viz.colorBottomB);
    readColor(vizTopColorWell, viz.colorTopR, viz.colorTopG, viz.colorTopB);
    if (vizOpacitySlider) viz.opacity = vizOpacitySlider->fraction(100);
    viz.sensitivity = sliderValue(vizSensSlider, viz.sensitivity);
    return viz;
}

void OverlayEditorController::saveVizConfigFromUI() { config.visualization = readVizConfigFromUI(); }

CrawlerConfig OverlayEditorController::readCrawlerConfigFromUI() const
{
    // Rebuilt from the controls alone; a missing control gives the default.
    CrawlerConfig crawler;
    crawler.enabled = isChecked(crawlerEnableCheck, crawler.enabled);
    crawler.barX = sliderValue(crawlerBarHorizSlider, crawler.barX);
    crawler.barY = sliderValue(crawlerBarVertSlider, crawler.barY);
    crawler.barWidth = sliderValue(crawlerBarWidthSlider, crawler.barWidth);
    crawler.barHeight = sliderValue(crawlerBarHeightSlider, crawler.barHeight);
    readColor(crawlerBarColorWell, crawler.barColorR, crawler.barColorG, crawler.barColorB);
    if (crawlerBarAlphaSlider) crawler.barAlpha = crawlerBarAlphaSlider->fraction(100);
    readColor(crawlerTextColorWell, crawler.textColorR, crawler.textColorG, crawler.textColorB);
    if (crawlerFontPopup) {
        crawler.fontName = crawlerFontPopup->currentIndex() < 0
                               ? config.crawler.fontName  // a stored name the pop-up does not list
                               : crawlerFontPopup->currentText().toStdString();
    }
    crawler.fontSize = fontSizeIn(crawlerFontSizeField).value_or(crawler.fontSize);
    crawler.speed = sliderValue(crawlerSpeedSlider, crawler.speed);
    crawler.uppercase = isChecked(crawlerUppercaseCheck, crawler.uppercase);
    return crawler;
}

void OverlayEditorController::saveCrawlerConfigFromUI() { config.crawler = readCrawlerConfigFromUI(); }

}  // namespace ondaline::editor
