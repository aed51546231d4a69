// The autosave: the open drawer page into the settings record, the record
// to its file, and the record to the running program (overlays, station
// name, picture, song text, audio source).

#include "app/app_delegate.h"
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

// A server-group field counts only while it is part of a page.
std::optional<std::string> attachedText(const QLineEdit* field)
{
    if (!field || !field->parentWidget()) return std::nullopt;
    return field->text().toStdString();
}

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
    // The station folder may have changed: the open editor's copy now
    // belongs to the same settings file, and is no stranger to it.
    if (overlayEditor) overlayEditor->config.origin = scheduleConfig.origin;

    sendOverlaysToEngine(scheduleConfig);
    updateStationNameLabel();
    applyScheduledImage();
    pollSongFile(true);

    if (const AudioSourceKind source = audioSourceNamed(scheduleConfig.audioSource); source != activeAudioSource())
        activateAudioSource(source);
    if (saved) print("Ondaline: Settings auto-saved");
}

void TestAppDelegate::readOpenDrawer()
{
    if (activeDrawer() == DrawerPage::settings) {
        readSettingsDrawer();
    } else if (activeDrawer() == DrawerPage::appearance) {
        // Only what the user chose: a stored font or size that the page
        // cannot show stays as it is.
        const auto chosen = [](const QComboBox* popup) { return popup && popup->property("chosen").toBool(); };
        if (chosen(drNPFontPopup) && drNPFontPopup->currentIndex() >= 0)
            scheduleConfig.nowPlaying.fontName = drNPFontPopup->currentText().toStdString();
        if (chosen(drNPFontSizePopup)) {
            const int i = drNPFontSizePopup->currentIndex();
            if (i >= 0 && static_cast<std::size_t>(i) < kNowPlayingFontSizes.size())
                scheduleConfig.nowPlaying.fontSize = kNowPlayingFontSizes[static_cast<std::size_t>(i)];
        }
    }
}

void TestAppDelegate::readSettingsDrawer()
{
    ImageScheduleConfig& c = scheduleConfig;
    if (drStationNameField) c.stationName = drStationNameField->text().toStdString();
    if (drStreamModePopup) c.streamMode = streamModeName(streamModeAt(drStreamModePopup->currentIndex()));

    const StreamMode mode = streamModeNamed(c.streamMode);
    if (mode == StreamMode::youtube) c.serverURL = kYouTubeIngestURL;
    else if (mode == StreamMode::facebook) c.serverURL = kFacebookIngestURL;
    else if (hasServerURLField(mode)) {
        if (auto url = attachedText(drServerURLField)) c.serverURL = std::move(*url);
    }
    if (hasStreamKey(mode)) {
        if (auto key = attachedText(drStreamKeyField)) c.streamKey = std::move(*key);
    } else {
        if (auto host = attachedText(drIcecastHostField)) c.icecastHost = std::move(*host);
        if (auto port = attachedText(drIcecastPortField)) c.icecastPort = icecastPortFromText(*port);
        if (auto mount = attachedText(drIcecastMountField)) c.icecastMount = std::move(*mount);
        if (auto password = attachedText(drIcecastPasswordField)) c.icecastPassword = std::move(*password);
    }

    if (drBitratePopup) c.audioBitrate = bitrateAt(drBitratePopup->currentIndex());
    if (drAudioSourcePopup) c.audioSource = audioSourceName(audioSourceAt(drAudioSourcePopup->currentIndex()));
    if (audioSourceNamed(c.audioSource) == AudioSourceKind::appCapture && drAppPickerPopup) {
        const int i = drAppPickerPopup->currentIndex() - 1;
        if (i >= 0 && static_cast<std::size_t>(i) < drAppSources.size()) {
            const sources::AudioSource& app = drAppSources[static_cast<std::size_t>(i)];
            c.appCaptureBundleID = app.bundleIdentifier.value_or("");
            c.appCaptureName = app.name;
        }
    }
    if (drStationPathField) StationPath::save(drStationPathField->text().toStdString());
    if (drAudioOutputPopup) {
        const int k = drAudioOutputPopup->currentIndex();
        if (k == 0) c.audioOutputDeviceUID.clear();
        else if (k >= 1 && static_cast<std::size_t>(k - 1) < audioOutputDevices.size())
            c.audioOutputDeviceUID = audioOutputDevices[static_cast<std::size_t>(k - 1)].uid;
    }
}

}  // namespace ondaline::app
