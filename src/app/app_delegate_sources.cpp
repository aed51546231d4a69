// Switching the audio source: exactly one of the local player, the TCP input
// and another application's captured sound runs, and the lamp and the status
// line say which. The capture's buffers go to the engine on the capture's
// own queue; its start, which blocks on the sound server, runs on a worker.

#include "app/app_delegate.h"

#include "app/status_line.h"
#include "base/print.h"
#include "engine/ondaline.h"
#include "sources/audio_source_capture.h"
#include "sources/captured_pcm.h"
#include "sources/source_token.h"
#include "sources/spectrum_analyzer.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "ui/console/led_indicator_view.h"

#include <QLabel>

#include <algorithm>

namespace ondaline::app {

struct TestAppDelegate::SourceSwitching {
    explicit SourceSwitching(std::shared_ptr<platform::MainExecutor> mainExecutor) : starter(std::move(mainExecutor)) {}

    static SourceSwitching& of(TestAppDelegate& controller)
    {
        if (!controller.sourceSwitching) {
            controller.sourceSwitching = std::make_shared<SourceSwitching>(controller.mainExecutor_);
        }
        return *controller.sourceSwitching;
    }

    sources::SourceStarter starter;
};

namespace {

const QString waitingText = QString::fromUtf8("Connecting to source…");

void showSourceLook(TestAppDelegate& controller, bool lampLit, const QString& text, double alpha)
{
    controller.dashboard().setLampLit(lampLit);
    if (controller.isSettingsNoticeShowing()) return;
    controller.lastErrorText.reset();  // the source's newer word replaces a failure shown
    controller.dashboard().showStatus(text, ui::white(1.0, alpha));
}

// What the start task came to, on the worker.
struct CaptureStart {
    enum class Outcome { nothingPlaying, notRunning, failed, started };
    Outcome outcome = Outcome::nothingPlaying;
    std::string error;
};

CaptureStart startCapture(sources::AudioSourceCapture& capture, const std::string& bundleID)
{
    // An empty list has been logged by the capture itself.
    const auto playing = capture.availableSources();
    if (playing.empty()) return {CaptureStart::Outcome::nothingPlaying, {}};
    const auto found = std::find_if(playing.begin(), playing.end(), [&](const sources::AudioSource& source) {
        return source.bundleIdentifier == bundleID;
    });
    if (found == playing.end()) return {CaptureStart::Outcome::notRunning, {}};
    if (auto error = capture.startCapture(*found)) return {CaptureStart::Outcome::failed, std::move(*error)};
    return {CaptureStart::Outcome::started, {}};
}

void showCaptureStart(TestAppDelegate& controller, const sources::AudioSourceCapture& capture,
                      const CaptureStart& start, const std::string& name)
{
    // A program that went away at once has ended the capture already; its
    // error report follows.
    if (start.outcome == CaptureStart::Outcome::started && capture.isCapturing()) {
        const std::string shown = name.empty() ? "App Capture" : name;
        showSourceLook(controller, true, QString::fromStdString("Connected to " + shown), 0.4);
        return;
    }
    controller.dashboard().setStatusText(waitingText);
    if (start.outcome == CaptureStart::Outcome::failed) print("AppCapture start error: " + start.error);
}

}  // namespace

void TestAppDelegate::activateAudioSource(AudioSourceKind source)
{
    switch (source) {
    case AudioSourceKind::tcp:
        activateTCPInputMode();
        break;
    case AudioSourceKind::appCapture:
        activateAppCaptureMode();
        break;
    case AudioSourceKind::local:
        // A player set up before keeps its graph: setup() changes nothing
        // the second time.
        if (player->playlist().empty()) {
            player->loadPlaylist(musicPath());
            player->setup();
        }
        activateLocalPlayerMode();
        break;
    }
}

void TestAppDelegate::activateLocalPlayerMode()
{
    activeAudioSource = AudioSourceKind::local;
    playerMeterReports->reset();  // its next report moves the needles, however steady
    tcpServer->stop();
    stopAppCapture();
    player->setStreamer(streamer);
    player->play();
    if (const std::string uid = scheduleConfig.audioOutputDeviceUID; !uid.empty()) applyAudioOutputDevice(uid);
    showSourceLook(*this, true, "Connected to Local Player", 0.4);
    print("Dashboard: Switched to Local Player mode");
}

void TestAppDelegate::activateTCPInputMode()
{
    activeAudioSource = AudioSourceKind::tcp;
    tcpMeterReports->reset();
    player->stop();
    player->setStreamer(nullptr);  // before the listener: the player's tap feeds the engine no more
    stopAppCapture();
    tcpServer->start();
    showSourceLook(*this, false, waitingText, 0.25);
    print("Dashboard: Switched to TCP Input mode");
}

void TestAppDelegate::activateAppCaptureMode()
{
    activeAudioSource = AudioSourceKind::appCapture;
    player->stop();
    player->setStreamer(nullptr);
    tcpServer->stop();
    stopAppCapture();  // a capture picked before never runs on beside the new one
    showSourceLook(*this, false, waitingText, 0.25);

    auto& switching = SourceSwitching::of(*this);
    const std::shared_ptr<sources::SourceTokenGate> gate = switching.starter.gate();
    const sources::SourceTokenGate::Token token = gate->take();
    const auto capture = sources::AudioSourceCapture::create();
    appCapture = capture;

    const QPointer<TestAppDelegate> self(this);
    const std::shared_ptr<platform::MainExecutor> main = mainExecutor_;
    const std::weak_ptr<Ondaline> engine = streamer;
    // Touched only while the token holds, and the gate closes before the
    // controller lets its analyser go.
    sources::SpectrumAnalyzer* const spectrum = appCaptureSpectrum.get();

    // On the capture queue. The engine takes each buffer at its own rate and
    // channel count before the meter and the bars see it.
    capture->setOnAudioBuffer([gate, token, engine, spectrum, self, main,
                               reports =
                                   std::make_shared<MeterReportFilter>()](const sources::AudioSampleBuffer& buffer) {
        gate->whileCurrent(token, [&] {
            const auto pcm = sources::capturedPCM(buffer);
            const auto target = engine.lock();
            if (!pcm || !target) return;
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm->interleaved.data());
            target->sendRawPCMData(ByteView(bytes, pcm->interleaved.size() * sizeof(float)), pcm->sampleRate,
                                   pcm->channels);
            if (reports->pass(pcm->levels.left, pcm->levels.right)) {
                main->post([self, gate, token, levels = pcm->levels] {
                    if (self && gate->isCurrent(token)) self->showSourceLevels(levels.left, levels.right);
                });
            }
            if (!pcm->spectrumInput.empty()) {
                spectrum->process(pcm->spectrumInput.data(), pcm->frames);
                target->setSpectrumLevels(spectrum->levels);
            }
        });
    });
    // The capture has marked itself stopped; nothing restarts it.
    capture->setOnError([gate, token, self, main](const std::string& error) {
        main->post([gate, token, self, error] {
            if (self && gate->isCurrent(token)) showSourceLook(*self, false, waitingText, 0.25);
            print("AppCapture error: " + error);
        });
    });

    const std::string bundleID = scheduleConfig.appCaptureBundleID;
    const std::string name = scheduleConfig.appCaptureName;
    if (!bundleID.empty()) {
        switching.starter.start<CaptureStart>(
            token, [capture, bundleID] { return startCapture(*capture, bundleID); },
            [capture](CaptureStart& start) {
                if (start.outcome == CaptureStart::Outcome::started) capture->stopCapture();
            },
            [self, capture, name](CaptureStart& start) {
                if (self) showCaptureStart(*self, *capture, start, name);
            });
    }
    print("Dashboard: Switched to App Capture mode");
}

void TestAppDelegate::stopAppCapture()
{
    // A new token first: the capture's start under way, its buffers and its
    // reports on their way here all end with the old one.
    if (sourceSwitching) sourceSwitching->starter.gate()->take();
    if (appCapture) appCapture->stopCapture();
    appCapture.reset();
}

}  // namespace ondaline::app
