#pragma once

// The editor's Now Playing tab: the preview on top and, below it, a
// scrolling pane with the settings of the now-playing text and its
// background block, the spectrum bars and the crawler.

#include "models/image_schedule_config.h"
#include "ui/editor/pane_rows.h"
#include "ui/editor/tab_link.h"

#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QImage;
class QLabel;
class QLineEdit;
class QWidget;

namespace ondaline::editor {

class ColorWell;
class DoubleSlider;

class NowPlayingTab {
public:
    // Builds the controls into `page`, the tab's 660 x 740 content. Every
    // control starts at the records' defaults.
    NowPlayingTab(QWidget& page, TabLink link);

    NowPlayingTab(const NowPlayingTab&) = delete;
    NowPlayingTab& operator=(const NowPlayingTab&) = delete;

    // Every control from the record's three overlays (now_playing_mapping.cpp).
    void load(const ImageScheduleConfig& config);
    // Only the now-playing font and size from `np`: the other controls keep
    // what they show.
    void showFont(const NowPlayingConfig& np);
    // The now-playing record as the controls give it, merged into `stored`:
    // an unlisted choice or an unreadable size keeps what is stored.
    NowPlayingConfig nowPlaying(const NowPlayingConfig& stored) const;
    // The bars, from the controls alone.
    VisualizationConfig visualization() const;
    // The crawler, from the controls alone but for a stored font name the
    // pop-up does not list, which `stored` gives.
    CrawlerConfig crawler(const CrawlerConfig& stored) const;
    // All three into `config`.
    void save(ImageScheduleConfig& config) const;

    // What the preview draws besides the records.
    std::string sampleText() const;
    // The now-playing size as typed; none when the text does not read as one.
    std::optional<double> typedFontSize() const;
    // Shows `frame` whole inside the preview's border, its aspect kept.
    void showPreview(const QImage& frame) const;

    // Picks the file the now-playing text is read from.
    void browseSourceFile();

    QLabel* npPreviewImageView() const { return npPreviewImageView_; }
    QLineEdit* npSampleField() const { return npSampleField_; }
    QLineEdit* npFilePathField() const { return npFilePathField_; }
    QComboBox* npDelimiterPopup() const { return npDelimiterPopup_; }
    QComboBox* npFontPopup() const { return npFontPopup_; }
    QLineEdit* npFontSizeField() const { return npFontSizeField_; }
    DoubleSlider* npHorizSlider() const { return npHorizSlider_; }
    DoubleSlider* npVertSlider() const { return npVertSlider_; }
    DoubleSlider* npBgAlphaSlider() const { return npBgAlpha_.slider; }
    QLabel* npBgAlphaLabel() const { return npBgAlpha_.label; }
    QCheckBox* vizEnableCheck() const { return vizEnableCheck_; }
    DoubleSlider* vizSensSlider() const { return vizSens_.slider; }
    QLabel* vizSensLabel() const { return vizSens_.label; }
    DoubleSlider* vizBarCountSlider() const { return vizBarCount_.slider; }
    QLabel* vizBarCountLabel() const { return vizBarCount_.label; }
    DoubleSlider* vizHorizSlider() const { return vizBox_.x; }
    DoubleSlider* vizWidthSlider() const { return vizBox_.width; }
    QCheckBox* crawlerEnableCheck() const { return crawlerEnableCheck_; }
    DoubleSlider* crawlerSpeedSlider() const { return crawlerSpeed_.slider; }
    QLabel* crawlerSpeedLabel() const { return crawlerSpeed_.label; }
    QComboBox* crawlerFontPopup() const { return crawlerFontPopup_; }
    QLineEdit* crawlerFontSizeField() const { return crawlerFontSizeField_; }

private:
    TabLink link_;

    QLabel* npPreviewImageView_ = nullptr;
    QLineEdit* npSampleField_ = nullptr;
    QLineEdit* npFilePathField_ = nullptr;
    QComboBox* npDelimiterPopup_ = nullptr;
    QComboBox* npDisplayPopup_ = nullptr;
    QCheckBox* npPrefixCheck_ = nullptr;
    QComboBox* npFontPopup_ = nullptr;
    QLineEdit* npFontSizeField_ = nullptr;
    ColorWell* npTextColorWell_ = nullptr;
    DoubleSlider* npHorizSlider_ = nullptr;
    DoubleSlider* npVertSlider_ = nullptr;

    QCheckBox* npBgCheck_ = nullptr;
    ColorWell* npBgColorWell_ = nullptr;
    ValueSlider npBgAlpha_;
    BoxSliders npBgBox_;

    QCheckBox* vizEnableCheck_ = nullptr;
    ValueSlider vizOpacity_;
    ValueSlider vizSens_;
    ColorWell* vizBottomColorWell_ = nullptr;
    ColorWell* vizTopColorWell_ = nullptr;
    ValueSlider vizBarCount_;
    ValueSlider vizSegCount_;
    ValueSlider vizSegGap_;
    BoxSliders vizBox_;

    QCheckBox* crawlerEnableCheck_ = nullptr;
    QCheckBox* crawlerUppercaseCheck_ = nullptr;
    ValueSlider crawlerSpeed_;
    QComboBox* crawlerFontPopup_ = nullptr;
    QLineEdit* crawlerFontSizeField_ = nullptr;
    ColorWell* crawlerTextColorWell_ = nullptr;
    ColorWell* crawlerBarColorWell_ = nullptr;
    ValueSlider crawlerBarAlpha_;
    BoxSliders crawlerBarBox_;
};

}  // namespace ondaline::editor
