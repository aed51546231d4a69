// What the settings page's controls do: the station name, the service and
// the source are stored at once, the application picker restarts the
// capture, "Browse" picks the station folder, and typing in a server field
// schedules the autosave.

#include "app/app_delegate.h"
#include "app/settings_choices.h"

#include "platform/dispatch/serial_queue.h"
#include "sources/audio_source_capture.h"
#include "ui/console/keyable_borderless_window.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QScrollArea>
#include <QTimer>

namespace ondaline::app {

// Asking the sound server which applications play may take a moment.
struct TestAppDelegate::AppListing {
    platform::SerialQueue worker{"com.ondaline.applist"};
};

namespace {

std::optional<QString> runFolderDialog(QWidget* parent, const QString& title)
{
    const QString folder = QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

}  // namespace

void TestAppDelegate::drStationNameEntered()
{
    if (!drStationNameField) return;
    scheduleConfig.stationName = drStationNameField->text().toStdString();
    saveSettings();
    updateStationNameLabel();
}

void TestAppDelegate::drAppPickerChanged()
{
    if (!drAppPickerPopup) return;
    const int i = drAppPickerPopup->currentIndex() - 1;
    if (i < 0 || static_cast<std::size_t>(i) >= drAppSources.size()) return;
    const sources::AudioSource& source = drAppSources[static_cast<std::size_t>(i)];
    scheduleConfig.appCaptureBundleID = source.bundleIdentifier.value_or("");
    scheduleConfig.appCaptureName = source.name;
    saveSettings();
    stopAppCapture();
    activateAppCaptureMode();
}

void TestAppDelegate::drStreamModeChanged()
{
    if (!drStreamModePopup) return;
    autoSaveDrawerSettings();
    const StreamMode mode = streamModeAt(drStreamModePopup->currentIndex());
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
    if (!drAudioSourcePopup) return;
    autoSaveDrawerSettings();
    scheduleConfig.audioSource = audioSourceName(audioSourceAt(drAudioSourcePopup->currentIndex()));
    saveSettings();
    setDrawerPage(buildSettingsDrawerContent());
}

void TestAppDelegate::refreshDrawerAppList()
{
    if (!appListing_) appListing_ = std::make_shared<AppListing>();
    appListing_->worker.async([self = QPointer<TestAppDelegate>(this), main = mainExecutor_] {
        std::string error;
        auto found = sources::AudioSourceCapture::create()->availableSources(error);
        main->post([self, found = std::move(found), failed = !error.empty()] {
            if (!self) return;
            self->drAppSources = failed ? std::vector<sources::AudioSource>() : found;
            QComboBox* picker = self->drAppPickerPopup;  // the newest page's, by now
            if (!picker) return;
            picker->clear();
            if (failed) {
                picker->addItem(QString::fromUtf8("⚠ Screen Recording permission required"));
                return;
            }
            if (found.empty()) {
                picker->addItem(QString::fromUtf8("⚠ Grant Screen Recording permission"));
                return;
            }
            picker->addItem(QString::fromUtf8("Select an application…"));
            for (const sources::AudioSource& source : found) picker->addItem(QString::fromStdString(source.name));
            const std::string& saved = self->scheduleConfig.appCaptureBundleID;
            if (saved.empty()) return;
            for (std::size_t k = 0; k < found.size(); ++k) {
                if (found[k].bundleIdentifier == saved) {
                    picker->setCurrentIndex(static_cast<int>(k) + 1);
                    break;
                }
            }
        });
    });
}

void TestAppDelegate::drBrowseStationPath()
{
    const QString title = QStringLiteral("Select Station Folder");
    const std::optional<QString> folder = pickFolder ? pickFolder(window.get(), title)
                                                     : runFolderDialog(window.get(), title);
    // The dialog let timers run: the page may be another one by now.
    if (folder && drStationPathField) drStationPathField->setText(*folder);
}

void TestAppDelegate::drawerTextFieldDidChange(QObject* field)
{
    if (!isDrawerOpen() || activeDrawer() != DrawerPage::settings) return;
    if (!field) return;
    const QObject* watched[] = {drStationNameField, drServerURLField,    drStreamKeyField,      drIcecastHostField,
                                drIcecastPortField, drIcecastMountField, drIcecastPasswordField};
    if (std::find(std::begin(watched), std::end(watched), field) == std::end(watched)) return;
    if (drawerSaveDebounceTimer) drawerSaveDebounceTimer->start();  // restarts a running one
}

}  // namespace ondaline::app
