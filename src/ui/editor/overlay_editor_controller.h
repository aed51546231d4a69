#pragma once

// The overlay and schedule editor: one window in which the now-playing
// text, the spectrum bars and the crawler are set with a live preview. It
// edits a copy of the settings record and gives it back in three steps: the
// controls into the copy, the copy to the settings file, the copy to the
// owner through onSave. A save follows 0.3 s after the last change, and
// another on Close, on the window's close box and when the program quits.

#include "models/image_schedule_config.h"
#include "ui/editor/tab_link.h"

#include <QImage>
#include <QObject>

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class QWidget;

namespace ondaline::editor {

class ColorWell;
class DoubleSlider;
class EditorWindow;
class ImagesTab;

class OverlayEditorController : public QObject {
    Q_OBJECT
public:
    // Makes no window, starts no timer and touches no file.
    explicit OverlayEditorController(ImageScheduleConfig initialConfig);
    ~OverlayEditorController() override;

    OverlayEditorController(const OverlayEditorController&) = delete;
    OverlayEditorController& operator=(const OverlayEditorController&) = delete;

    // Builds the window the first time, loads `config` into every control
    // and brings the window to the front.
    void showWindow();
    // Writes the controls back, saves, hands the copy over and closes.
    void closeEditor();

    // The control actions.
    void refreshPreview();
    void bgAlphaSliderChanged();
    void vizOpacityChanged();
    void vizSensChanged();
    void vizBarCountChanged();
    void vizSegCountChanged();
    void vizSegGapChanged();
    void crawlerSpeedChanged();
    void crawlerBarAlphaChanged();
    void browseNPFile();

    // The controls and the copy (editor_mapping.cpp).
    void loadConfigToUI();
    void saveNPConfigFromUI();
    VisualizationConfig readVizConfigFromUI() const;
    void saveVizConfigFromUI();
    CrawlerConfig readCrawlerConfigFromUI() const;
    void saveCrawlerConfigFromUI();

    // --- the preview (editor_preview.cpp) ---
    // Draws the 1280 x 720 frame from the controls into the preview.
    void updatePreview();
    // The now-playing record as a save would make it, leaving `config` as it is.
    NowPlayingConfig readNPConfigFromUI() const;
    // The last frame drawn, as the stream would draw it: premultiplied
    // ARGB, rows top first.
    QImage previewFrame;
    // The default image as last read, kept while its file stays the same.
    struct PreviewPicture;
    std::shared_ptr<const PreviewPicture> previewPicture;
    // --- end of the preview's part ---

    ImageScheduleConfig config;
    // The copy after each save, with what the save of the file came to.
    std::function<void(const ImageScheduleConfig&, const SettingsSave&)> onSave;
    // One existing file (never a folder) chosen in a modal panel titled
    // `title` that offers the files of `mimeTypes`; none when cancelled.
    // Unset: a QFileDialog.
    std::function<std::optional<QString>(QWidget* parent, const QString& title, const QStringList& mimeTypes)> pickFile;

    // The window and its controls: none until the first showWindow(), then
    // for the controller's life.
    std::unique_ptr<EditorWindow> window;
    QLineEdit* npFilePathField = nullptr;
    QComboBox* npDelimiterPopup = nullptr;
    QComboBox* npDisplayPopup = nullptr;
    QCheckBox* npPrefixCheck = nullptr;
    DoubleSlider* npHorizSlider = nullptr;
    DoubleSlider* npVertSlider = nullptr;
    QComboBox* npFontPopup = nullptr;
    QLineEdit* npFontSizeField = nullptr;
    ColorWell* npTextColorWell = nullptr;
    QCheckBox* npBgCheck = nullptr;
    DoubleSlider* npBgHorizSlider = nullptr;
    DoubleSlider* npBgVertSlider = nullptr;
    DoubleSlider* npBgWidthSlider = nullptr;
    DoubleSlider* npBgHeightSlider = nullptr;
    ColorWell* npBgColorWell = nullptr;
    DoubleSlider* npBgAlphaSlider = nullptr;
    QLabel* npBgAlphaLabel = nullptr;
    QLabel* npPreviewImageView = nullptr;
    QLineEdit* npSampleField = nullptr;
    QCheckBox* vizEnableCheck = nullptr;
    DoubleSlider* vizOpacitySlider = nullptr;
    QLabel* vizOpacityLabel = nullptr;
    DoubleSlider* vizSensSlider = nullptr;
    QLabel* vizSensLabel = nullptr;
    ColorWell* vizBottomColorWell = nullptr;
    ColorWell* vizTopColorWell = nullptr;
    DoubleSlider* vizBarCountSlider = nullptr;
    QLabel* vizBarCountLabel = nullptr;
    DoubleSlider* vizSegCountSlider = nullptr;
    QLabel* vizSegCountLabel = nullptr;
    DoubleSlider* vizSegGapSlider = nullptr;
    QLabel* vizSegGapLabel = nullptr;
    DoubleSlider* vizHorizSlider = nullptr;
    DoubleSlider* vizVertSlider = nullptr;
    DoubleSlider* vizWidthSlider = nullptr;
    DoubleSlider* vizHeightSlider = nullptr;
    QCheckBox* crawlerEnableCheck = nullptr;
    DoubleSlider* crawlerBarHorizSlider = nullptr;
    DoubleSlider* crawlerBarVertSlider = nullptr;
    DoubleSlider* crawlerBarWidthSlider = nullptr;
    DoubleSlider* crawlerBarHeightSlider = nullptr;
    ColorWell* crawlerBarColorWell = nullptr;
    DoubleSlider* crawlerBarAlphaSlider = nullptr;
    QLabel* crawlerBarAlphaLabel = nullptr;
    ColorWell* crawlerTextColorWell = nullptr;
    QComboBox* crawlerFontPopup = nullptr;
    QLineEdit* crawlerFontSizeField = nullptr;
    DoubleSlider* crawlerSpeedSlider = nullptr;
    QLabel* crawlerSpeedLabel = nullptr;
    QCheckBox* crawlerUppercaseCheck = nullptr;
    QScrollArea* npSettingsScrollView = nullptr;

    // The mock spectrum's state, readable for the preview and its tests.
    const std::vector<float>& levels() const { return mockLevels_; }
    float phase() const { return mockPhase_; }
    bool isAnimating() const { return mockAnimTimer_ != nullptr; }
    bool isSavePending() const;

    // The tabs: none until the first showWindow().
    ImagesTab* imagesTab() const { return images_.get(); }

private:
    void buildWindow();                     // editor_window.cpp
    void buildNowPlayingTab(QWidget& tab);  // editor_now_playing_tab.cpp
    // What the tabs ask of the controller.
    TabLink tabLink();
    void tabChanged(Redraw redraw);
    // One existing file picked in a panel that offers `mimeTypes`: through
    // pickFile when it is set, else the real panel.
    std::optional<QString> chooseFile(const QString& title, const QStringList& mimeTypes);
    void scheduleDebouncedSave();
    // Close's steps without the closing: write back, save, hand over.
    void writeBackAndHandOver();
    void valueSliderMoved();  // editor_value_labels.cpp: a value label was set
    void updateMockAnimation();
    void tickMockAnimation();

    QTimer* mockAnimTimer_ = nullptr;
    float mockPhase_ = 0;
    std::vector<float> mockLevels_ = std::vector<float>(32, 0.0f);
    QTimer* saveDebounceTimer_ = nullptr;
    std::unique_ptr<ImagesTab> images_;
};

}  // namespace ondaline::editor
