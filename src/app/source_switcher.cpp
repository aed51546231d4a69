#include "app/source_switcher.h"

#include "app/streaming_service.h"
#include "base/bytes.h"
#include "base/print.h"
#include "engine/ondaline.h"
#include "models/station_path.h"
#include "platform/audio/audio_output.h"
#include "sources/audio_source_capture.h"
#include "sources/captured_pcm.h"
#include "sources/source_token.h"
#include "sources/spectrum_analyzer.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"

#include <algorithm>
#include <atomic>

namespace ondaline::app {

namespace {

const QString waitingText = QString::fromUtf8("Connecting to source…");

// What the start task came to, on the worker.
struct CaptureStart {
    enum class Outcome { notPlaying, failed, started };
    Outcome outcome = Outcome::notPlaying;
    std::string error;
};

// The application the settings name, for people: its saved name, else what
// it is stored as.
std::string shownApplication(const std::string& bundleID, const std::string& name)
{
    return name.empty() ? bundleID : name;
}

CaptureStart startCapture(sources::AudioSourceCapture& capture, const std::string& bundleID, const std::string& name)
{
    std::string error;
    const auto playing = capture.availableSources(error);
    if (!error.empty()) return {CaptureStart::Outcome::failed, error};
    const auto found = std::find_if(playing.begin(), playing.end(), [&](const sources::AudioSource& source) {
        return source.bundleIdentifier == bundleID;
    });
    if (found == playing.end())
        return {CaptureStart::Outcome::notPlaying,
                "'" + shownApplication(bundleID, name) + "' is not playing any sound"};
    if (auto failure = capture.startCapture(*found)) return {CaptureStart::Outcome::failed, std::move(*failure)};
    return {CaptureStart::Outcome::started, {}};
}

void show(const SourceSwitcher::Looks& looks, const IdleLook& look)
{
    looks.source(look.lampLit, QString::fromStdString(look.statusText), look.statusAlpha);
}

// A start that came to nothing is told; one that started shows nothing yet:
// the capture's first sound shows it connected.
void showCaptureStart(const SourceSwitcher::Looks& looks, const CaptureStart& start)
{
    if (start.outcome == CaptureStart::Outcome::started) return;
    looks.source(false, QString::fromStdString("App Capture: " + start.error), 0.25);
    print("AppCapture start error: " + start.error);
}

}  // namespace

SourceSwitcher::SourceSwitcher(std::shared_ptr<platform::MainExecutor> mainExecutor, const Sources& sources,
                               Looks looks)
    : mainExecutor_(std::move(mainExecutor)), sources_(sources),
      looks_(std::make_shared<const Looks>(std::move(looks))),
      appCaptureSpectrum_(std::make_unique<sources::SpectrumAnalyzer>(40, 44100.0f))
{
}

SourceSwitcher::~SourceSwitcher() { stopAppCapture(); }

void SourceSwitcher::activate(AudioSourceKind source, const std::string& outputDeviceUID,
                              const std::string& captureBundleID, const std::string& captureName)
{
    switch (source) {
    case AudioSourceKind::tcp:
        activateTCPInput();
        break;
    case AudioSourceKind::appCapture:
        activateAppCapture(captureBundleID, captureName);
        break;
    case AudioSourceKind::local:
        // A player set up before keeps its graph: setup() changes nothing
        // the second time.
        if (sources_.player->playlist().empty()) {
            sources_.player->loadPlaylist(StationPath::musicFolder());
            sources_.player->setup();
        }
        activateLocalPlayer(outputDeviceUID);
        break;
    }
}

void SourceSwitcher::activateLocalPlayer(const std::string& outputDeviceUID)
{
    sources::TestPlayer& player = *sources_.player;
    active_ = AudioSourceKind::local;
    playerMeterReports_->reset();  // its next report moves the needles, however steady
    sources_.tcpServer->stop();
    stopAppCapture();
    player.setStreamer(sources_.engine);
    player.play();
    if (!outputDeviceUID.empty()) looks_->outputDevice(outputDeviceUID);
    show(*looks_, localPlayerLook(player.engine().isMissingSoundServer()));
    print("Dashboard: Switched to Local Player mode");
}

void SourceSwitcher::activateTCPInput()
{
    active_ = AudioSourceKind::tcp;
    tcpMeterReports_->reset();
    sources_.player->stop();
    sources_.player->setStreamer(nullptr);  // before the listener: the player's tap feeds the engine no more
    stopAppCapture();
    sources_.tcpServer->start();
    looks_->source(false, waitingText, 0.25);
    print("Dashboard: Switched to TCP Input mode");
}

void SourceSwitcher::activateAppCapture(const std::string& bundleID, const std::string& name)
{
    active_ = AudioSourceKind::appCapture;
    sources_.player->stop();
    sources_.player->setStreamer(nullptr);
    sources_.tcpServer->stop();
    stopAppCapture();  // a capture picked before never runs on beside the new one
    looks_->source(false, waitingText, 0.25);

    if (!starter_) starter_ = std::make_unique<sources::SourceStarter>(mainExecutor_);
    const std::shared_ptr<sources::SourceTokenGate> gate = starter_->gate();
    const sources::SourceTokenGate::Token token = gate->take();
    const auto capture = sources::AudioSourceCapture::create();
    appCapture_ = capture;

    const std::weak_ptr<const Looks> looks = looks_;
    const std::shared_ptr<platform::MainExecutor> main = mainExecutor_;
    const std::weak_ptr<Ondaline> engine = sources_.engine;
    // Touched only while the token holds, and the gate closes before the
    // switcher lets its analyser go.
    sources::SpectrumAnalyzer* const spectrum = appCaptureSpectrum_.get();

    // On the capture queue. The engine takes each buffer at its own rate and
    // channel count before the meter and the bars see it.
    const IdleLook connected = appCaptureLook(name);
    capture->setOnAudioBuffer(
        [gate, token, engine, spectrum, looks, main, connected, heard = std::make_shared<std::atomic<bool>>(false),
         reports = std::make_shared<MeterReportFilter>()](const sources::AudioSampleBuffer& buffer) {
            gate->whileCurrent(token, [&] {
                const auto pcm = sources::capturedPCM(buffer);
                const auto target = engine.lock();
                if (!pcm || !target) return;
                // Connected once sound comes, not when the start returns: a
                // capture that never delivers never looks connected.
                if (!heard->exchange(true)) {
                    main->post([looks, gate, token, connected] {
                        const auto looked = looks.lock();
                        if (looked && gate->isCurrent(token)) show(*looked, connected);
                    });
                }
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm->interleaved.data());
                target->sendRawPCMData(ByteView(bytes, pcm->interleaved.size() * sizeof(float)), pcm->sampleRate,
                                       pcm->channels);
                if (reports->pass(pcm->levels.left, pcm->levels.right)) {
                    main->post([looks, gate, token, levels = pcm->levels] {
                        const auto shown = looks.lock();
                        if (shown && gate->isCurrent(token)) shown->levels(levels.left, levels.right);
                    });
                }
                if (!pcm->spectrumInput.empty()) {
                    spectrum->process(pcm->spectrumInput.data(), pcm->frames);
                    target->setSpectrumLevels(spectrum->levels);
                }
            });
        });
    // The capture has marked itself stopped; nothing restarts it.
    capture->setOnError([gate, token, looks, main](const std::string& error) {
        main->post([gate, token, looks, error] {
            const auto shown = looks.lock();
            if (shown && gate->isCurrent(token)) shown->source(false, waitingText, 0.25);
            print("AppCapture error: " + error);
        });
    });

    if (!bundleID.empty()) {
        starter_->start<CaptureStart>(
            token, [capture, bundleID, name] { return startCapture(*capture, bundleID, name); },
            [capture](CaptureStart& start) {
                if (start.outcome == CaptureStart::Outcome::started) capture->stopCapture();
            },
            [looks](CaptureStart& start) {
                if (const auto looked = looks.lock()) showCaptureStart(*looked, start);
            });
    }
    print("Dashboard: Switched to App Capture mode");
}

void SourceSwitcher::stopAppCapture()
{
    // A new token first: the capture's start under way, its buffers and its
    // reports on their way here all end with the old one.
    if (starter_) starter_->gate()->take();
    if (appCapture_) appCapture_->stopCapture();
    appCapture_.reset();
}

}  // namespace ondaline::app
