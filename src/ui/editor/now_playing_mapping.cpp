// The two-way mapping between the overlays of the edited copy and the Now
// Playing tab's controls. Values set in code are never reported as user
// actions by these controls, so a load runs no action and schedules no save.

#include "ui/editor/now_playing_tab.h"

#include "models/station_path.h"
#include "ui/editor/color_well.h"
#include "ui/editor/double_slider.h"
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

void setColor(ColorWell& well, double red, double green, double blue) { well.setColor({red, green, blue}); }

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
void selectTitle(QComboBox& popup, std::string_view title) { popup.setCurrentIndex(indexOfTitle(popup, title)); }

int delimiterIndex(std::string_view delimiter)
{
    const auto& options = NowPlayingConfig::delimiterOptions;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i].first == delimiter) return static_cast<int>(i);
    }
    return -1;
}

bool isChecked(const QCheckBox& box) { return box.checkState() == Qt::Checked; }

// The integer part of the slider value, truncated, not rounded.
std::int64_t countValue(const DoubleSlider& slider, std::int64_t fallback)
{
    const double whole = std::trunc(slider.value());
    if (!(whole >= -0x1p63 && whole < 0x1p63)) return fallback;  // no range is that wide
    return static_cast<std::int64_t>(whole);
}

void readColor(const ColorWell& well, double& red, double& green, double& blue)
{
    const ColorWell::RGB color = well.color();
    red = color.red;
    green = color.green;
    blue = color.blue;
}

std::optional<double> fontSizeIn(const QLineEdit& field) { return parseFontSize(field.text().toStdString()); }

}  // namespace

void NowPlayingTab::load(const ImageScheduleConfig& config)
{
    const NowPlayingConfig& np = config.nowPlaying;
    npFilePathField_->setText(qstring(np.filePath));
    // The station folder may have moved since the last opening.
    npFilePathField_->setPlaceholderText(qstring(StationPath::songFile()));
    npDelimiterPopup_->setCurrentIndex(delimiterIndex(np.delimiter));
    npDisplayPopup_->setCurrentIndex(np.multiRow ? 1 : 0);
    npPrefixCheck_->setChecked(np.showPrefix);
    npHorizSlider_->setValue(np.textX);
    npVertSlider_->setValue(np.textY);
    showFont(np);
    setColor(*npTextColorWell_, np.textColorR, np.textColorG, np.textColorB);
    npBgCheck_->setChecked(np.showBackground);
    npBgBox_.show(np.bgX, np.bgY, np.bgWidth, np.bgHeight);
    setColor(*npBgColorWell_, np.bgColorR, np.bgColorG, np.bgColorB);
    npBgAlpha_.showFraction(np.bgAlpha);

    const VisualizationConfig& viz = config.visualization;
    vizEnableCheck_->setChecked(viz.enabled);
    vizBarCount_.showCount(viz.barCount);
    vizSegCount_.showCount(viz.segmentCount);
    vizSegGap_.show(viz.segmentGap);
    vizBox_.show(viz.posX, viz.posY, viz.width, viz.height);
    vizOpacity_.showFraction(viz.opacity);
    vizSens_.show(viz.sensitivity);
    setColor(*vizBottomColorWell_, viz.colorBottomR, viz.colorBottomG, viz.colorBottomB);
    setColor(*vizTopColorWell_, viz.colorTopR, viz.colorTopG, viz.colorTopB);

    const CrawlerConfig& crawler = config.crawler;
    crawlerEnableCheck_->setChecked(crawler.enabled);
    crawlerBarBox_.show(crawler.barX, crawler.barY, crawler.barWidth, crawler.barHeight);
    setColor(*crawlerBarColorWell_, crawler.barColorR, crawler.barColorG, crawler.barColorB);
    crawlerBarAlpha_.showFraction(crawler.barAlpha);
    setColor(*crawlerTextColorWell_, crawler.textColorR, crawler.textColorG, crawler.textColorB);
    selectTitle(*crawlerFontPopup_, crawler.fontName);
    crawlerFontSizeField_->setText(qstring(shortestNumberText(crawler.fontSize)));
    crawlerSpeed_.show(crawler.speed);
    crawlerUppercaseCheck_->setChecked(crawler.uppercase);
}

void NowPlayingTab::showFont(const NowPlayingConfig& np)
{
    selectTitle(*npFontPopup_, np.fontName);
    npFontSizeField_->setText(qstring(shortestNumberText(np.fontSize)));
}

NowPlayingConfig NowPlayingTab::nowPlaying(const NowPlayingConfig& stored) const
{
    NowPlayingConfig np = stored;
    // Taken only when changed: bytes that are not UTF-8 do not survive QString.
    if (const QString text = npFilePathField_->text(); text != qstring(np.filePath)) np.filePath = text.toStdString();
    const int delimiter = npDelimiterPopup_->currentIndex();
    const auto& options = NowPlayingConfig::delimiterOptions;
    if (delimiter >= 0 && static_cast<std::size_t>(delimiter) < options.size()) np.delimiter = options[delimiter].first;
    np.multiRow = npDisplayPopup_->currentIndex() == 1;
    np.showPrefix = isChecked(*npPrefixCheck_);
    np.textX = npHorizSlider_->value();
    np.textY = npVertSlider_->value();
    if (npFontPopup_->currentIndex() >= 0) np.fontName = npFontPopup_->currentText().toStdString();
    np.fontSize = fontSizeIn(*npFontSizeField_).value_or(np.fontSize);
    readColor(*npTextColorWell_, np.textColorR, np.textColorG, np.textColorB);
    np.showBackground = isChecked(*npBgCheck_);
    npBgBox_.read(np.bgX, np.bgY, np.bgWidth, np.bgHeight);
    readColor(*npBgColorWell_, np.bgColorR, np.bgColorG, np.bgColorB);
    np.bgAlpha = npBgAlpha_.slider->fraction(100);
    return np;
}

VisualizationConfig NowPlayingTab::visualization() const
{
    VisualizationConfig viz;
    viz.enabled = isChecked(*vizEnableCheck_);
    viz.barCount = countValue(*vizBarCount_.slider, viz.barCount);
    viz.segmentCount = countValue(*vizSegCount_.slider, viz.segmentCount);
    viz.segmentGap = vizSegGap_.slider->value();
    vizBox_.read(viz.posX, viz.posY, viz.width, viz.height);
    readColor(*vizBottomColorWell_, viz.colorBottomR, viz.colorBottomG, viz.colorBottomB);
    readColor(*vizTopColorWell_, viz.colorTopR, viz.colorTopG, viz.colorTopB);
    viz.opacity = vizOpacity_.slider->fraction(100);
    viz.sensitivity = vizSens_.slider->value();
    return viz;
}

CrawlerConfig NowPlayingTab::crawler(const CrawlerConfig& stored) const
{
    CrawlerConfig crawler;
    crawler.enabled = isChecked(*crawlerEnableCheck_);
    crawlerBarBox_.read(crawler.barX, crawler.barY, crawler.barWidth, crawler.barHeight);
    readColor(*crawlerBarColorWell_, crawler.barColorR, crawler.barColorG, crawler.barColorB);
    crawler.barAlpha = crawlerBarAlpha_.slider->fraction(100);
    readColor(*crawlerTextColorWell_, crawler.textColorR, crawler.textColorG, crawler.textColorB);
    crawler.fontName = crawlerFontPopup_->currentIndex() < 0 ? stored.fontName  // a name the pop-up does not list
                                                             : crawlerFontPopup_->currentText().toStdString();
    crawler.fontSize = fontSizeIn(*crawlerFontSizeField_).value_or(crawler.fontSize);
    crawler.speed = crawlerSpeed_.slider->value();
    crawler.uppercase = isChecked(*crawlerUppercaseCheck_);
    return crawler;
}

void NowPlayingTab::save(ImageScheduleConfig& config) const
{
    config.nowPlaying = nowPlaying(config.nowPlaying);
    config.visualization = visualization();
    config.crawler = crawler(config.crawler);
}

}  // namespace ondaline::editor
