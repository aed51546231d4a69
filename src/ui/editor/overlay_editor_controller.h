#pragma once

// The overlay and schedule editor: one window in which the now-playing
// text, the spectrum bars and the crawler are set with a live preview. It
// edits a copy of the settings record and gives it back in three steps: the
// controls into the copy, the copy to the settings file, the copy to the
// owner through onSave; or, for an owner that keeps the one record, the
// copy to handOver, and the owner writes the file. A save follows 0.3 s
// after the last change, and another on Close, on the window's close box
// and when the program quits.

#include "models/image_schedule_config.h"
#include "ui/editor/tab_link.h"

#include <QImage>
#include <QObject>

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTabWidget;
class QTimer;
class QWidget;

namespace ondaline::editor {

class EditorWindow;
class ImagesTab;
class NowPlayingTab;

// The window's tabs, in their order.
enum class EditorTab { nowPlaying, images };

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
    // The window to the front as it is, everything typed in it kept.
    void bringToFront();
    void showTab(EditorTab tab);
    bool isOnScreen() const;
    // The now-playing font and size as the owner changed them: into `config`
    // and the two controls that show them, and the preview. Nothing else
    // typed is touched, and no save follows.
    void takeNowPlayingFont(const std::string& fontName, double fontSize);
    // Writes the controls back, saves, hands the copy over and closes.
    void closeEditor();
    // The same while the window is on screen or a save is pending.
    void closeIfOpen();
    // Loads `config` into every control and redraws the preview; does
    // nothing before the window is built.
    void loadConfigToUI();

    // The tabs: none until the first showWindow(), then for the
    // controller's life.
    NowPlayingTab* nowPlayingTab() const { return nowPlaying_.get(); }
    ImagesTab* imagesTab() const { return images_.get(); }

    // The last frame the preview drew, as the stream would draw it:
    // premultiplied ARGB, rows top first.
    const QImage& previewFrame() const { return previewFrame_; }

    // The mock spectrum's state, readable for the preview and its tests.
    const std::vector<float>& levels() const { return mockLevels_; }
    float phase() const { return mockPhase_; }
    bool isAnimating() const { return mockAnimTimer_ != nullptr; }
    bool isSavePending() const;

    ImageScheduleConfig config;
    // The copy after each save, with what the save of the file came to.
    std::function<void(const ImageScheduleConfig&, const SettingsSave&)> onSave;
    // Set by an owner that keeps the one settings record: each save gives
    // it the copy in place of writing the file and calling onSave, and the
    // owner takes the parts edited here into its record and writes that.
    // The copy's other fields are as old as its last loading, and never
    // reach the file.
    std::function<void(const ImageScheduleConfig&)> handOver;
    // One existing file (never a folder) chosen in a modal panel titled
    // `title` that offers the files of `mimeTypes`; none when cancelled.
    // Unset: a QFileDialog.
    std::function<std::optional<QString>(QWidget* parent, const QString& title, const QStringList& mimeTypes)> pickFile;

    // None until the first showWindow(), then for the controller's life.
    std::unique_ptr<EditorWindow> window;

private:
    void buildWindow();  // editor_window.cpp
    // What the tabs ask of the controller.
    TabLink tabLink();
    void tabChanged(Redraw redraw);
    // One existing file picked in a panel that offers `mimeTypes`: through
    // pickFile when it is set, else the real panel.
    std::optional<QString> chooseFile(const QString& title, const QStringList& mimeTypes);
    void scheduleDebouncedSave();
    // Close's steps without the closing: write back, save, hand over.
    void writeBackAndHandOver();

    // Draws the 1280 x 720 frame from the controls into the preview
    // (editor_preview.cpp).
    void updatePreview();
    // While the bars are on, a mock spectrum moves them twelve times a
    // second (editor_mock_spectrum.cpp).
    void updateMockAnimation();
    void tickMockAnimation();

    std::unique_ptr<NowPlayingTab> nowPlaying_;
    std::unique_ptr<ImagesTab> images_;
    QTabWidget* tabs_ = nullptr;  // the window's
    QImage previewFrame_;
    // The default image as last read, kept while its file stays the same.
    struct PreviewPicture;
    std::shared_ptr<const PreviewPicture> previewPicture_;
    QTimer* mockAnimTimer_ = nullptr;
    float mockPhase_ = 0;
    std::vector<float> mockLevels_ = std::vector<float>(32, 0.0f);
    QTimer* saveDebounceTimer_ = nullptr;
};

}  // namespace ondaline::editor
