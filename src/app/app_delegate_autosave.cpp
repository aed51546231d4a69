// The autosave: the open drawer page into the settings record, the record
// to its file, and the record to the running program (overlays, station
// name, picture, song text, audio source).

#include "app/app_delegate.h"
#include "app/appearance_page.h"
#include "app/settings_choices.h"

#include "base/print.h"
#include "engine/ondaline.h"
#include "models/station_path.h"
#include "sources/audio_source_capture.h"
#include "sources/test_player.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include <cmath>

namespace ondaline::app {

namespace {

constexpr double kAutoSaveInterval = 1.0;  // seconds between the starts of two runs

}  // namespace

void TestAppDelegate::autoSaveDrawerSettings()
{
    const double now = clock_->now();
    if (lastAutoSaveTime_ && now - *lastAutoSaveTime_ < kAutoSaveInterval) {
        // Inside the second: what the page shows now is taken at once, and
        // one whole run follows when the second is over, so nothing typed
        // or chosen meanwhile is lost.
        readOpenDrawer();
        if (!pendingAutoSave_) {
            pendingAutoSave_ = new QTimer(this);
            pendingAutoSave_->setSingleShot(true);
            pendingAutoSave_->setTimerType(Qt::PreciseTimer);
            connect(pendingAutoSave_, &QTimer::timeout, this, [this] { autoSaveDrawerSettings(); });
        }
        if (!pendingAutoSave_->isActive()) {
            const double wait = kAutoSaveInterval - (now - *lastAutoSaveTime_);
            pendingAutoSave_->start(static_cast<int>(std::ceil(std::max(0.0, wait) * 1000.0)));
        }
        return;
    }
    lastAutoSaveTime_ = now;
    if (pendingAutoSave_) pendingAutoSave_->stop();  // this run is the one that was due

    readOpenDrawer();
    const bool saved = saveSettings();

    sendOverlaysToEngine(scheduleConfig);
    updateStationNameLabel();
    applyScheduledImage();
    pollSongFile(true);

    if (const AudioSourceKind source = audioSourceNamed(scheduleConfig.audioSource); source != activeAudioSource())
        activateAudioSource(source);
    if (saved) print("Ondaline: Settings auto-saved");
}

void TestAppDelegate::saveBeforeQuit()
{
    if (drawerSaveDebounceTimer) drawerSaveDebounceTimer->stop();
    if (pendingAutoSave_) pendingAutoSave_->stop();
    // As closing the drawer would take it, without what closing applies.
    if (isDrawerOpen()) readOpenDrawer();
    // The editor's save comes back through overlayEditorDidSave, which
    // writes the record with the drawer's part already in it.
    if (overlayEditor) overlayEditor->closeIfOpen();
    if (hasUnsavedSettings()) saveSettings();
}

void TestAppDelegate::readOpenDrawer()
{
    if (activeDrawer() == DrawerPage::settings) {
        settingsPage_->read(scheduleConfig);
        settingsPage_->showServer(scheduleConfig.serverURL);
    } else if (activeDrawer() == DrawerPage::appearance) {
        appearancePage_->read(scheduleConfig);
    }
}

}  // namespace ondaline::app
