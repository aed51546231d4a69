// The editor's life: opening, the debounced save, Close, and the hand-over
// of the edited copy to its owner.

#include "ui/editor/overlay_editor_controller.h"

#include "ui/editor/editor_window.h"
#include "ui/editor/images_tab.h"
#include "ui/editor/now_playing_tab.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMimeDatabase>
#include <QPointer>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTimer>

namespace ondaline::editor {

namespace {

// One filter for all of `mimeTypes` at once, such as
// "PNG image, JPEG image (*.png *.jpg *.jpeg)"; empty when none is known.
QString nameFilter(const QStringList& mimeTypes)
{
    const QMimeDatabase database;
    QStringList names, patterns;
    for (const QString& name : mimeTypes) {
        const QMimeType type = database.mimeTypeForName(name);
        if (!type.isValid() || type.globPatterns().isEmpty()) continue;
        names << type.comment();
        patterns << type.globPatterns();
    }
    patterns.removeDuplicates();
    if (patterns.isEmpty()) return {};
    return names.join(QStringLiteral(", ")) + QStringLiteral(" (") + patterns.join(u' ') + u')';
}

std::optional<QString> runFilePanel(QWidget* parent, const QString& title, const QStringList& mimeTypes)
{
    // Held by a guarded pointer: the parent may take the panel with it while it runs.
    const QPointer<QFileDialog> panel = new QFileDialog(parent, title);
    const auto release = qScopeGuard([&panel] { delete panel.data(); });
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setFileMode(QFileDialog::ExistingFile);
    if (const QString filter = nameFilter(mimeTypes); !filter.isEmpty()) panel->setNameFilter(filter);
    if (panel->exec() != QDialog::Accepted || !panel) return std::nullopt;
    const QStringList files = panel->selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
    return files.first();
}

}  // namespace

OverlayEditorController::OverlayEditorController(ImageScheduleConfig initialConfig) : config(std::move(initialConfig))
{
    // Quitting with the editor open, or a change not yet saved, saves first.
    if (QCoreApplication* application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this, [this] { closeIfOpen(); });
    }
}

OverlayEditorController::~OverlayEditorController()
{
    window.reset();  // the controls go before the tabs that handle them
}

void OverlayEditorController::showWindow()
{
    if (!window) buildWindow();
    loadConfigToUI();
    bringToFront();
}

void OverlayEditorController::bringToFront()
{
    if (!window) return;
    window->show();
    window->raise();
    window->activateWindow();
}

void OverlayEditorController::showTab(EditorTab tab)
{
    if (tabs_) tabs_->setCurrentIndex(static_cast<int>(tab));
}

void OverlayEditorController::closeIfOpen()
{
    if (isOnScreen() || isSavePending()) closeEditor();
}

bool OverlayEditorController::isOnScreen() const { return window && window->isVisible(); }

void OverlayEditorController::takeNowPlayingFont(const std::string& fontName, double fontSize)
{
    config.nowPlaying.fontName = fontName;
    config.nowPlaying.fontSize = fontSize;
    if (!nowPlaying_) return;
    nowPlaying_->showFont(config.nowPlaying);
    updatePreview();
}

void OverlayEditorController::loadConfigToUI()
{
    if (!nowPlaying_ || !images_) return;
    nowPlaying_->load(config);
    updateMockAnimation();  // follows the check box just set
    images_->load(config);
    updatePreview();
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
    nowPlaying_->save(config);
    images_->save(config);
    if (handOver) {
        handOver(config);
        return;
    }
    const SettingsSave saved = config.save();
    if (onSave) onSave(config, saved);
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

std::optional<QString> OverlayEditorController::chooseFile(const QString& title, const QStringList& mimeTypes)
{
    return pickFile ? pickFile(window.get(), title, mimeTypes) : runFilePanel(window.get(), title, mimeTypes);
}

TabLink OverlayEditorController::tabLink()
{
    return {[this](Redraw redraw) { tabChanged(redraw); },
            [this](const QString& title, const QStringList& mimeTypes) { return chooseFile(title, mimeTypes); }};
}

void OverlayEditorController::tabChanged(Redraw redraw)
{
    if (redraw != Redraw::none) updatePreview();
    scheduleDebouncedSave();
    if (redraw == Redraw::all) updateMockAnimation();
}

}  // namespace ondaline::editor
