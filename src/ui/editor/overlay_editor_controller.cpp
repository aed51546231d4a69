// The editor's life: opening, the debounced save, Close, and the hand-over
// of the edited copy to its owner.

#include "ui/editor/overlay_editor_controller.h"

#include "ui/editor/editor_window.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

namespace ondaline::editor {

namespace {

std::optional<QString> runFileDialog(QWidget* parent, const QString& title)
{
    const QString file = QFileDialog::getOpenFileName(parent, title, QString(), QStringLiteral("Text (*.txt *.text);;All files (*)"));
    if (file.isEmpty()) return std::nullopt;
    return file;
}

}  // namespace

OverlayEditorController::OverlayEditorController(ImageScheduleConfig config) : config(std::move(config))
{
    // Quitting with the editor open, or a change not yet saved, saves first.
    if (QCoreApplication* application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this, [this] {
            if ((window && window->isVisible()) || isSavePending()) closeEditor();
        });
    }
}

OverlayEditorController::~OverlayEditorController() = default;

void OverlayEditorController::showWindow()
{
    if (!window) buildWindow();
    loadConfigToUI();
    window->show();
    window->raise();
    window->activateWindow();
}

bool OverlayEditorController::isSavePending() const { return saveDebounceTimer_ && saveDebounceTimer_->isActive(); }

void OverlayEditorController::scheduleDebouncedSave()
{
    if (!saveDebounceTimer_) {
        saveDebounceTimer_ = new QTimer(this);
        saveDebounceTimer_->setSingleShot(true);
        saveDebounceTimer_->setInterval(300);
        connect(saveDebounceTimer_, &QTimer::timeout, this, [this] { writeBackAndHandOver(); });
    }
    saveDebounceTimer_->start();  // a save not yet run is dropped: this one takes its place
}

void OverlayEditorController::writeBackAndHandOver()
{
    saveNPConfigFromUI();
    saveVizConfigFromUI();
    saveCrawlerConfigFromUI();
    saveImagesConfigFromUI();
    config.save();
    if (onSave) onSave(config);
}

void OverlayEditorController::closeEditor()
{
    if (saveDebounceTimer_) saveDebounceTimer_->stop();
    if (mockAnimTimer_) {
        mockAnimTimer_->stop();
        mockAnimTimer_->deleteLater();
        mockAnimTimer_ = nullptr;
    }
    if (!window) return;
    writeBackAndHandOver();
    window->closingInCode = true;
    window->close();
    window->closingInCode = false;
}

void OverlayEditorController::browseNPFile()
{
    const QString title = QStringLiteral("Select Now Playing File");
    const auto file = pickFile ? pickFile(window.get(), title) : runFileDialog(window.get(), title);
    if (!file || !npFilePathField) return;
    npFilePathField->setText(*file);
    scheduleDebouncedSave();
}


}  // namespace ondaline::editor
