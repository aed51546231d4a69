#pragma once

// Switching the audio source: exactly one of the local player, the TCP input
// and another application's captured sound runs. The capture's buffers go
// to the engine on the capture's own queue. The chosen application is
// followed off the main thread while it is the source: captured whenever it
// plays, and told while it does not; a switch ends that at once.

#include "app/settings_choices.h"
#include "app/source_callbacks.h"
#include "platform/dispatch/main_executor.h"
#include "sources/application_follower.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ondaline {
class Ondaline;
namespace sources {
class AudioSourceCapture;
class SourceTokenGate;
class SpectrumAnalyzer;
class TCPAudioServer;
class TestPlayer;
}  // namespace sources
}  // namespace ondaline

namespace ondaline::app {

class SourceSwitcher {
public:
    // The controller's own members, which may be replaced.
    struct Sources {
        std::shared_ptr<sources::TestPlayer>& player;
        std::shared_ptr<sources::TCPAudioServer>& tcpServer;
        std::shared_ptr<Ondaline>& engine;
    };
    // What a switch shows, on the main thread.
    struct Looks {
        std::function<void(bool lampLit, const QString& text, double alpha)> source;  // lamp and status line
        std::function<void(const QString& text)> statusText;                          // the colour stays
        std::function<void(float left, float right)> levels;
        std::function<void(const std::string& uid)> outputDevice;  // the player's output, by uid
        std::function<void()> titleLeft;                           // the player's track title is no longer the source's
    };

    SourceSwitcher(std::shared_ptr<platform::MainExecutor> mainExecutor, const Sources& sources, Looks looks);
    // Ends a capture's start under way and every report still on its way.
    ~SourceSwitcher();

    SourceSwitcher(const SourceSwitcher&) = delete;
    SourceSwitcher& operator=(const SourceSwitcher&) = delete;

    // Each makes its source the one running: records it, stops the other
    // two, starts its own and shows its look. The local player's playlist
    // is read and its output set up the first time activate() picks it.
    void activate(AudioSourceKind source, const std::string& outputDeviceUID, const std::string& captureBundleID,
                  const std::string& captureName);
    void activateLocalPlayer(const std::string& outputDeviceUID);
    void activateTCPInput();
    // The application of that binary and name (the one process `pid` when
    // it is not 0, as picked) is followed off the main thread; the look
    // follows what is found. No bundle id: nothing is started.
    void activateAppCapture(const std::string& bundleID, const std::string& name, std::int32_t pid = 0);
    // Application capture is the source, but the application of that binary
    // and name, chosen in settings others may change, is not captured: it
    // is told until the user picks it (then activateAppCapture()).
    void offerAppCapture(const std::string& bundleID, const std::string& name);
    // Stops and drops the capture; the looks stay as they are.
    void stopAppCapture();

    AudioSourceKind active() const { return active_; }
    // Present while application capture runs.
    const std::shared_ptr<sources::AudioSourceCapture>& appCapture() const { return appCapture_; }
    // The process captured, or picked; 0 when none is known.
    std::int32_t appCaptureProcess() const { return appCaptureProcess_; }
    // Why application capture brings no sound, and what is done about it
    // ("'Auto' is not playing — waiting for it"): it is not playing, two of
    // its name play, no sound server, the start failed, it is only offered.
    // Empty while it is captured or being looked for.
    const std::string& appCaptureWaiting() const { return appCaptureWaiting_; }
    // While it brings no sound for such a reason, what a live stream has
    // to say of it, and the application's name as the note shows it; empty
    // otherwise.
    struct Note {
        std::string text;
        std::string application;
    };
    Note silentSourceNote() const;
    // While an application's sound is captured and comes, its name.
    std::string capturedApplication() const;
    const sources::SpectrumAnalyzer& appCaptureSpectrum() const { return *appCaptureSpectrum_; }
    // The level reports of the player and the TCP input on their way to the
    // meter; reset when their source becomes the shown one.
    const std::shared_ptr<MeterReportFilter>& playerMeterReports() const { return playerMeterReports_; }
    const std::shared_ptr<MeterReportFilter>& tcpMeterReports() const { return tcpMeterReports_; }

private:
    // On the main thread, while the follower's token holds.
    void showFollowerStatus(const sources::ApplicationFollower::Status& status);

    const std::shared_ptr<platform::MainExecutor> mainExecutor_;
    const Sources sources_;
    const std::shared_ptr<const Looks> looks_;  // reports on their way hold it weakly
    AudioSourceKind active_ = AudioSourceKind::local;
    const std::shared_ptr<MeterReportFilter> playerMeterReports_ = std::make_shared<MeterReportFilter>();
    const std::shared_ptr<MeterReportFilter> tcpMeterReports_ = std::make_shared<MeterReportFilter>();
    std::shared_ptr<sources::AudioSourceCapture> appCapture_;
    std::shared_ptr<sources::ApplicationFollower> follower_;
    // Those stopped whose look may still be under way.
    std::vector<std::weak_ptr<sources::ApplicationFollower>> stoppedFollowers_;
    std::shared_ptr<std::atomic<bool>> appCaptureHeard_;  // the running capture's sound has come
    std::int32_t appCaptureProcess_ = 0;
    std::string appCaptureWaiting_;
    std::string appCaptureSilence_;      // why it is silent
    std::string appCaptureSilenceName_;  // the application it names
    // Touched by the capture's queue only while its token holds; the gate
    // is closed before it goes.
    const std::unique_ptr<sources::SpectrumAnalyzer> appCaptureSpectrum_;
    const std::shared_ptr<sources::SourceTokenGate> gate_;
};

}  // namespace ondaline::app
