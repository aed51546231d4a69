// What the settings page's controls do: the station name, the service and
// the source are stored at once, the application picker restarts the
// capture, "Browse" picks the station folder, and typing in a server field
// schedules the autosave.

#include "app/app_delegate.h"
#include "app/settings_choices.h"

#include "ui/console/keyable_borderless_window.h"

#include <QFileDialog>
#include <QTimer>

namespace ondaline::app {

namespace {

std::optional<QString> runFolderDialog(QWidget* parent, const QString& title)
{
    const QString folder = QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

}  // namespace

QWidget* TestAppDelegate::buildSettingsDrawerContent()
{
    const std::vector<platform::OutputDevice> devices = enumerateAudioOutputDevices();
    return settingsPage_->build(scheduleConfig, devices, outputDeviceName(scheduleConfig.audioOutputDeviceUID));
}

void TestAppDelegate::drStationNameEntered()
{
    const auto name = settingsPage_->stationName();
    if (!name) return;
    scheduleConfig.stationName = *name;
    saveSettings();
    updateStationNameLabel();
}

void TestAppDelegate::drAppPickerChanged(const sources::AudioSource& picked)
{
    scheduleConfig.appCaptureBundleID = picked.bundleIdentifier.value_or("");
    scheduleConfig.appCaptureName = picked.name;
    applicationPicked_ = true;  // the user's own choice from now on
    saveSettings();
    stopAppCapture();
    // That very process: another of its name is never taken for it.
    activateAppCaptureMode(picked.id);
}

void TestAppDelegate::drStreamModeChanged()
{
    const auto chosen = settingsPage_->streamMode();
    if (!chosen) return;
    autoSaveDrawerSettings();
    const StreamMode mode = *chosen;
    scheduleConfig.streamMode = streamModeName(mode);
    if (mode == StreamMode::youtube) scheduleConfig.serverURL = kYouTubeIngestURL;
    if (mode == StreamMode::facebook) scheduleConfig.serverURL = kFacebookIngestURL;
    // The video platforms refuse audio below 128 kbit/s.
    if (mode == StreamMode::youtube || mode == StreamMode::facebook || mode == StreamMode::kick)
        scheduleConfig.audioBitrate = 128000;
    saveSettings();
    setDrawerPage(buildSettingsDrawerContent());
}

void TestAppDelegate::drAudioSourceChanged()
{
    const auto chosen = settingsPage_->audioSource();
    if (!chosen) return;
    autoSaveDrawerSettings();
    scheduleConfig.audioSource = audioSourceName(*chosen);
    saveSettings();
    setDrawerPage(buildSettingsDrawerContent());
}

void TestAppDelegate::refreshDrawerAppList() { settingsPage_->refreshAppList(); }

void TestAppDelegate::drBrowseStationPath()
{
    const QString title = QStringLiteral("Select Station Folder");
    const std::optional<QString> folder = pickFolder ? pickFolder(window.get(), title)
                                                     : runFolderDialog(window.get(), title);
    // The dialog let timers run: the page may be another one by now.
    if (folder) settingsPage_->showStationPath(*folder);
}

void TestAppDelegate::drawerTextFieldDidChange(QObject* field)
{
    if (!isDrawerOpen() || activeDrawer() != DrawerPage::settings) return;
    if (!settingsPage_->isWatchedField(field)) return;
    if (drawerSaveDebounceTimer) drawerSaveDebounceTimer->start();  // restarts a running one
}

}  // namespace ondaline::app
