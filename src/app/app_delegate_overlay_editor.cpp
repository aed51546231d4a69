// The overlay and schedule editor, which the appearance page's buttons
// open, and its saves, which the dashboard takes into its record and
// writes. The font and size that both windows show follow the newest
// change in either.

#include "app/app_delegate.h"
#include "app/appearance_page.h"

#include "ui/editor/editor_window.h"
#include "ui/editor/overlay_editor_controller.h"

namespace ondaline::app {

void TestAppDelegate::openOverlayEditor(editor::EditorTab tab)
{
    if (!overlayEditor) {
        overlayEditor = std::make_unique<editor::OverlayEditorController>(scheduleConfig);
        // The dashboard writes the file, once, from its own record: the
        // editor's copy of the other settings is as old as its opening.
        overlayEditor->handOver = [self = QPointer<TestAppDelegate>(this)](const ImageScheduleConfig& edited) {
            if (self) self->overlayEditorDidSave(edited);
        };
    }
    if (overlayEditor->isOnScreen()) {
        // What is typed there stays; the dashboard's changes to what both
        // windows show have reached its controls already.
        overlayEditor->bringToFront();
    } else {
        overlayEditor->config = scheduleConfig;
        const bool firstOpening = !overlayEditor->window;
        overlayEditor->showWindow();
        if (firstOpening) attachMenu(*overlayEditor->window);
    }
    overlayEditor->showTab(tab);
}

void TestAppDelegate::overlayEditorDidSave(const ImageScheduleConfig& edited)
{
    scheduleConfig.nowPlaying = edited.nowPlaying;
    scheduleConfig.defaultImagePath = edited.defaultImagePath;
    scheduleConfig.hourOffset = edited.hourOffset;
    scheduleConfig.entries = edited.entries;
    scheduleConfig.visualization = edited.visualization;
    scheduleConfig.crawler = edited.crawler;
    saveSettings();
    appearancePage_->show(scheduleConfig);
    sendOverlaysToEngine(scheduleConfig);
    applyScheduledImage();
    pollSongFile(true);
}

void TestAppDelegate::drNPFontChosen()
{
    appearancePage_->read(scheduleConfig);
    if (overlayEditor)
        overlayEditor->takeNowPlayingFont(scheduleConfig.nowPlaying.fontName, scheduleConfig.nowPlaying.fontSize);
}

}  // namespace ondaline::app
