#include "app/source_switcher.h"

#include "app/streaming_service.h"
#include "base/bytes.h"
#include "base/print.h"
#include "engine/ondaline.h"
#include "models/station_path.h"
#include "platform/audio/audio_output.h"
#include "platform/text.h"
#include "sources/application_follower.h"
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

void show(const SourceSwitcher::Looks& looks, const IdleLook& look)
{
    looks.source(look.lampLit, QString::fromStdString(look.statusText), look.statusAlpha);
}

}  // namespace

SourceSwitcher::SourceSwitcher(std::shared_ptr<platform::MainExecutor> mainExecutor, const Sources& sources,
                               Looks looks)
    : mainExecutor_(std::move(mainExecutor)), sources_(sources),
      looks_(std::make_shared<const Looks>(std::move(looks))),
      appCaptureSpectrum_(std::make_unique<sources::SpectrumAnalyzer>(40, 44100.0f)),
      gate_(std::make_shared<sources::SourceTokenGate>())
{
}

// Once the gate is closed no buffer of a capture touches the analyser; a
// start still under way, of any capture stopped before, ends first.
SourceSwitcher::~SourceSwitcher()
{
    stopAppCapture();
    gate_->close();
    for (const auto& stopped : stoppedFollowers_)
        if (const auto follower = stopped.lock()) follower->waitForLook();
}

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
    if (looks_->titleLeft) looks_->titleLeft();
    print("Dashboard: Switched to TCP Input mode");
}

void SourceSwitcher::activateAppCapture(const std::string& bundleID, const std::string& name, std::int32_t pid)
{
    active_ = AudioSourceKind::appCapture;
    sources_.player->stop();
    sources_.player->setStreamer(nullptr);
    sources_.tcpServer->stop();
    stopAppCapture();  // a capture picked before never runs on beside the new one
    looks_->source(false, waitingText, 0.25);
    if (looks_->titleLeft) looks_->titleLeft();

    const sources::SourceTokenGate::Token token = gate_->take();
    const auto capture = sources::AudioSourceCapture::create();
    appCapture_ = capture;
    appCaptureProcess_ = pid;

    const std::weak_ptr<const Looks> looks = looks_;
    const std::shared_ptr<platform::MainExecutor> main = mainExecutor_;
    const std::weak_ptr<Ondaline> engine = sources_.engine;
    const std::shared_ptr<sources::SourceTokenGate> gate = gate_;
    // Touched only while the token holds, and the gate closes before the
    // switcher lets its analyser go.
    sources::SpectrumAnalyzer* const spectrum = appCaptureSpectrum_.get();
    // Whether the running capture's sound has come; each new capture's
    // first buffer shows it connected.
    const auto heard = std::make_shared<std::atomic<bool>>(false);
    appCaptureHeard_ = heard;

    // On the capture queue. The engine takes each buffer at its own rate and
    // channel count before the meter and the bars see it.
    const IdleLook connected = appCaptureLook(name);
    capture->setOnAudioBuffer([gate, token, engine, spectrum, looks, main, connected, heard,
                               reports =
                                   std::make_shared<MeterReportFilter>()](const sources::AudioSampleBuffer& buffer) {
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

    if (!bundleID.empty()) {
        using Status = sources::ApplicationFollower::Status;
        // On the follower's queue, or on the capture queue for an end (and
        // the start it may tell first), after the ended capture's last buffer
        // and before the next one's first.
        auto onStatus = [this, gate, token, main, heard](const Status& status) {
            if (status.kind == Status::Kind::ended) heard->store(false);
            main->post([this, gate, token, status] {
                if (gate->isCurrent(token)) showFollowerStatus(status);
            });
        };
        follower_ = sources::ApplicationFollower::start(capture, {bundleID, name, pid}, std::move(onStatus));
    }
    print("Dashboard: Switched to App Capture mode");
}

void SourceSwitcher::offerAppCapture(const std::string& bundleID, const std::string& name)
{
    activateAppCapture({}, name);  // the source, with nothing followed
    appCaptureSilenceName_ = platform::withFormatCharactersShown(name.empty() ? bundleID : name);
    const std::string shown = "'" + appCaptureSilenceName_ + "'";
    appCaptureWaiting_ = shown + " from settings others may change — pick to capture";
    appCaptureSilence_ = shown + " waits for a pick";  // short: the live line holds it beside its figures
    print("AppCapture: " + appCaptureWaiting_);
    looks_->source(false, QString::fromStdString("App Capture: " + appCaptureWaiting_), 0.25);
}

void SourceSwitcher::showFollowerStatus(const sources::ApplicationFollower::Status& status)
{
    using Kind = sources::ApplicationFollower::Status::Kind;
    const std::string shown = follower_ ? follower_->shownName() : std::string();
    switch (status.kind) {
    case Kind::capturing:
        appCaptureWaiting_.clear();
        appCaptureSilence_.clear();
        if (appCapture_) {
            if (const auto source = appCapture_->currentSource()) appCaptureProcess_ = source->id;
        }
        if (status.again) print("AppCapture: '" + shown + "' plays again — captured");
        // Connected once its sound comes, which may have been told already.
        if (!appCaptureHeard_->load()) looks_->source(false, waitingText, 0.25);
        return;
    case Kind::ended:
        print("AppCapture error: " + status.text);
        // Until the follower's next look says more.
        showFollowerStatus({Kind::notPlaying, "'" + shown + "' is not playing"});
        return;
    case Kind::failed:
        print("AppCapture start error: " + status.text);
        break;
    case Kind::notPlaying:
    case Kind::ambiguous:
    case Kind::noServer:
        // Said once, also after an end that said it first.
        if (status.waitingText() != appCaptureWaiting_) print("AppCapture: " + status.waitingText());
        break;
    }
    appCaptureWaiting_ = status.waitingText();
    appCaptureSilence_ = status.text;
    appCaptureSilenceName_ = shown;
    looks_->source(false, QString::fromStdString("App Capture: " + appCaptureWaiting_), 0.25);
}

void SourceSwitcher::stopAppCapture()
{
    // A new token first: the capture's buffers and the reports on their way
    // here all end with the old one.
    gate_->take();
    std::erase_if(stoppedFollowers_, [](const auto& follower) { return follower.expired(); });
    if (follower_) {
        follower_->stop();
        stoppedFollowers_.push_back(follower_);
    }
    follower_.reset();
    if (appCapture_) appCapture_->stopCapture();
    appCapture_.reset();
    appCaptureProcess_ = 0;
    appCaptureWaiting_.clear();
    appCaptureSilence_.clear();
    appCaptureSilenceName_.clear();
}

SourceSwitcher::Note SourceSwitcher::silentSourceNote() const
{
    if (active_ != AudioSourceKind::appCapture || appCaptureSilence_.empty()) return {};
    return {appCaptureSilence_ + " — carrier on air", appCaptureSilenceName_};
}

std::string SourceSwitcher::capturedApplication() const
{
    if (active_ != AudioSourceKind::appCapture || !appCapture_ || !appCapture_->isDelivering()) return {};
    const auto source = appCapture_->currentSource();
    if (!source) return {};
    return source->name.empty() ? source->bundleIdentifier.value_or("") : source->name;
}

}  // namespace ondaline::app
