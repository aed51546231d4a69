// The output device the local player is heard on: the sound server's
// devices, the saved choice applied to the player's output, the settings
// popup kept in step with devices coming and going, and the user's choice.

#include "app/app_delegate.h"

#include "app/streaming_service.h"
#include "base/print.h"
#include "engine/ondaline.h"
#include "platform/audio/audio_output.h"
#include "sources/test_player.h"

#include <QTimer>

#include <algorithm>
#include <optional>

namespace ondaline::app {

namespace {

using platform::AudioOutput;
using platform::OutputDevice;
using platform::OutputDevices;

// None when no sound server answers, which is not the same as a device
// that is not there. A connection of its own: the listener's thread cannot
// ask, and one that outlived its server would only answer with nothing.
std::optional<std::vector<OutputDevice>> listDevices()
{
    std::string error;
    const auto devices = OutputDevices::connect(error);
    if (!devices) return std::nullopt;
    return devices->list();
}

const OutputDevice* findDevice(const std::vector<OutputDevice>& devices, const std::string& uid)
{
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&](const OutputDevice& d) { return d.uid == uid; });
    return found == devices.end() ? nullptr : &*found;
}

// Not started yet (another source runs): it opens its stream on the chosen
// device when it starts.
bool playOn(AudioOutput& output, const std::string& uid, std::string& error)
{
    return output.kind() == AudioOutput::Kind::none || output.moveToDevice(uid, error);
}

void applyDefaultDevice(AudioOutput& output)
{
    std::string error;
    if (playOn(output, "", error)) print("Ondaline: Audio output → System Default");
    else print("Ondaline: Failed to set default output device (status " + error + ")");
}

}  // namespace

std::vector<OutputDevice> TestAppDelegate::enumerateAudioOutputDevices()
{
    return listOutputDevices().value_or(std::vector<OutputDevice>());
}

std::optional<std::vector<OutputDevice>> TestAppDelegate::listOutputDevices()
{
    auto devices = listDevices();
    // A device missing later is named in the popup by the name it last had.
    if (devices) {
        for (const OutputDevice& device : *devices) outputDeviceNames_[device.uid] = device.name;
    }
    return devices;
}

std::string TestAppDelegate::outputDeviceName(const std::string& uid) const
{
    const auto known = outputDeviceNames_.find(uid);
    return known == outputDeviceNames_.end() ? uid : known->second;
}

void TestAppDelegate::applyAudioOutputDevice(const std::string& uid)
{
    AudioOutput& output = player->engine();
    // Whenever the player opens its stream (the server back, the device
    // back), it opens it there.
    output.chooseDevice(uid);
    // Playing to the null output, or with no server to ask, there is
    // nothing to move.
    std::optional<std::vector<OutputDevice>> devices;
    if (output.kind() != AudioOutput::Kind::null) devices = listOutputDevices();
    if (!devices) {
        print("Ondaline: Cannot access output device: no sound server");
        return;
    }
    if (uid.empty()) {
        applyDefaultDevice(output);
        return;
    }
    const OutputDevice* device = findDevice(*devices, uid);
    if (!device) {
        // Kept: only the user's choice changes it, and it gets the sound
        // again once it is back.
        print("Ondaline: Saved output device not found (uid=" + uid + "), using system default");
        applyDefaultDevice(output);
        return;
    }
    std::string error;
    if (playOn(output, device->uid, error)) print("Ondaline: Audio output → " + device->name);
    else print("Ondaline: Failed to set output device '" + device->name + "' (status " + error + ")");
}

void TestAppDelegate::followChosenOutputDevice(const std::vector<OutputDevice>& devices)
{
    const std::string& chosen = scheduleConfig.audioOutputDeviceUID;
    AudioOutput& output = player->engine();
    const OutputDevice* device = chosen.empty() ? nullptr : findDevice(devices, chosen);
    if (!device || output.kind() != AudioOutput::Kind::soundServer || output.deviceUID() == chosen) return;
    std::string error;
    if (output.moveToDevice(chosen, error)) print("Ondaline: Audio output → " + device->name);
}

void TestAppDelegate::installAudioDeviceChangeListener()
{
    if (!watchAudioDevices()) {
        print("Ondaline: ⚠ No sound server");
        retryWatchingAudioDevices();
    }
    // Said either way, as before there was a sound server to follow.
    print("Ondaline: Audio device change listener installed");
}

bool TestAppDelegate::watchAudioDevices()
{
    std::string error;
    audioDeviceWatcher_ = OutputDevices::connect(error);
    if (!audioDeviceWatcher_) return false;
    // Called on the sound server's thread, where a listing comes back
    // empty: the refresh runs on the main thread.
    audioDeviceWatcher_->setChangeListener([self = QPointer<TestAppDelegate>(this), main = mainExecutor_] {
        main->post([self] {
            if (self) self->refreshAudioOutputPopup();
        });
    });
    return true;
}

// A sound server that went away (restarted, upgraded) is looked for again
// and again, less often the longer it stays away.
void TestAppDelegate::retryWatchingAudioDevices()
{
    if (deviceWatchRetrying_) return;
    deviceWatchRetrying_ = true;
    QTimer::singleShot(deviceWatchRetry_, this, [this] {
        deviceWatchRetrying_ = false;
        if (watchAudioDevices()) {
            deviceWatchRetry_ = platform::AudioOutput::reopenFirst;
            print("Ondaline: Sound server is back");
            refreshAudioOutputPopup();
            return;
        }
        deviceWatchRetry_ = std::min(deviceWatchRetry_ * 2, platform::AudioOutput::reopenMost);
        retryWatchingAudioDevices();
    });
}

void TestAppDelegate::refreshAudioOutputPopup()
{
    if (audioDeviceWatcher_ && !audioDeviceWatcher_->isConnected()) {
        audioDeviceWatcher_.reset();
        print("Ondaline: ⚠ Sound server went away");
        retryWatchingAudioDevices();
    }
    const std::vector<OutputDevice> devices = enumerateAudioOutputDevices();
    const std::string& chosen = scheduleConfig.audioOutputDeviceUID;
    if (!audioDeviceWatcher_ && devices.empty()) {
        settingsPage_->showOutputDevices(devices, chosen, outputDeviceName(chosen));
        return;
    }
    std::string names;
    for (const OutputDevice& device : devices) names += (names.empty() ? "" : ", ") + device.name;
    print("Ondaline: Audio devices changed — " + names);
    // The chosen device back (plugged in again, or the server restarted):
    // the player goes back to it.
    followChosenOutputDevice(devices);
    settingsPage_->showOutputDevices(devices, chosen, outputDeviceName(chosen));
}

void TestAppDelegate::drAudioOutputChanged()
{
    const auto uid = settingsPage_->outputDevice();
    if (!uid) return;
    scheduleConfig.audioOutputDeviceUID = *uid;
    saveSettings();
    applyAudioOutputDevice(scheduleConfig.audioOutputDeviceUID);
}

void TestAppDelegate::playerSoundServerDidChange(bool playing)
{
    print(playing ? "Ondaline: Local player heard again" : "Ondaline: ⚠ Local player not heard: no sound server");
    // Back before the device list found the server again, or on the
    // default because the chosen device came a moment later than it.
    if (playing && !scheduleConfig.audioOutputDeviceUID.empty())
        followChosenOutputDevice(enumerateAudioOutputDevices());
    if (activeAudioSource() != AudioSourceKind::local) return;
    // While live the status line belongs to the stream, which tells it there.
    if (isUptimeClockRunning()) return showLiveStatus();
    if (streamer->state() == StreamState::publishing) return;
    const IdleLook look = localPlayerLook(!playing);
    showSourceLook(look.lampLit, QString::fromStdString(look.statusText), look.statusAlpha);
}

}  // namespace ondaline::app
