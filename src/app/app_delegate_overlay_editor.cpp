// The overlay and schedule editor, which the appearance page's buttons
// open, and its saves, which the dashboard takes over.

#include "app/app_delegate.h"

#include "ui/editor/editor_window.h"
#include "ui/editor/overlay_editor_controller.h"

namespace ondaline::app {

void TestAppDelegate::openOverlayEditor()
{
    if (!overlayEditor) {
        overlayEditor = std::make_unique<editor::OverlayEditorController>(scheduleConfig);
        overlayEditor->onSave = [self = QPointer<TestAppDelegate>(this)](const ImageScheduleConfig& edited,
                                                                         const SettingsSave& saved) {
            if (!self) return;
            // Its failure is said by the save that follows here; an earlier
            // file it kept aside is said now.
            self->reportKeptAside(saved);
            self->overlayEditorDidSave(edited);
        };
    }
    overlayEditor->config = scheduleConfig;
    const bool firstOpening = !overlayEditor->window;
    overlayEditor->showWindow();
    if (firstOpening) attachMenu(*overlayEditor->window);
}

void TestAppDelegate::overlayEditorDidSave(const ImageScheduleConfig& edited)
{
    scheduleConfig.nowPlaying = edited.nowPlaying;
    scheduleConfig.defaultImagePath = edited.defaultImagePath;
    scheduleConfig.hourOffset = edited.hourOffset;
    scheduleConfig.entries = edited.entries;
    scheduleConfig.visualization = edited.visualization;
    scheduleConfig.crawler = edited.crawler;
    scheduleConfig.origin = edited.origin;  // what the editor's save wrote is not kept aside again
    saveSettings();
    sendOverlaysToEngine(scheduleConfig);
    applyScheduledImage();
    pollSongFile(true);
}

}  // namespace ondaline::app
