// Starting and stopping the stream, and the looks that follow it: starting,
// live with its uptime clock, and idle by the stored audio source.

#include "app/app_delegate.h"

#include "app/status_line.h"
#include "app/streaming_service.h"
#include "base/print.h"
#include "engine/ondaline.h"
#include "models/settings_secrets.h"
#include "models/station_path.h"
#include "sources/audio_source_capture.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "ui/console/led_indicator_view.h"

#include <QTimer>

#include <cmath>

namespace ondaline::app {

namespace {

QColor liveStatusColor() { return ui::rgba(0.27, 0.87, 0.27, 0.7); }

}  // namespace

void TestAppDelegate::toggleConnect()
{
    lastErrorText.reset();  // a press starts afresh

    // While a lost stream waits for its retry the engine reads idle, yet the
    // dashboard offers Stop: the press ends the retry.
    const StreamState state = streamer->state();
    if (streamer->isConnected() || state == StreamState::connecting || state == StreamState::handshaking ||
        state == StreamState::negotiating || streamer->isReconnectPending()) {
        streamer->disconnect();
        setDisconnectedUI();
        return;
    }

    // What is typed in the drawer reaches the record through its autosave:
    // one still waiting runs now, so that Start uses what the drawer shows.
    if (drawerSaveDebounceTimer && drawerSaveDebounceTimer->isActive()) {
        drawerSaveDebounceTimer->stop();
        autoSaveDrawerSettings();
    }

    const ImageScheduleConfig settings = scheduleConfig;
    const StreamingService& service = streamingService(streamModeNamed(settings.streamMode));
    SourceFormats formats;
    if (const auto tap = player->tapFormat()) formats.playerTap = PCMFormat{tap->sampleRate, tap->channelCount};
    formats.tcpAccepted = {static_cast<double>(tcpServer->acceptedSampleRate()), tcpServer->acceptedChannels()};
    const PCMFormat source = sourceFormat(audioSourceNamed(settings.audioSource), formats);

    const bool icecast = service.engineMode == StreamMode::icecast;
    const auto port = icecastPort(settings.icecastPort);
    if (icecast && !port) {
        const std::string refusal = invalidIcecastPortText(settings.icecastPort);
        print("Ondaline: " + refusal);
        lastErrorText = QString::fromStdString(refusal);
        setDisconnectedUI();
        return;
    }

    // A secret kept apart goes to no other server than its own: the stream
    // does not start under it, and the line says how to send it there.
    if (const auto notSent = icecast ? icecastPasswordNotSent(settings) : streamKeyNotSent(settings)) {
        print("Ondaline: ⚠ " + notSent->line);
        lastErrorText = QString::fromStdString(notSent->status);
        setDisconnectedUI();
        return;
    }

    streamer->setStreamMode(service.engineMode);
    if (icecast) {
        // The engine's other Icecast fields, URL, key and overlays stay as they are.
        IcecastConfig server = streamer->icecastConfig();
        server.host = settings.icecastHost;
        server.port = *port;
        server.mountPoint = settings.icecastMount;
        server.password = icecastPasswordToSend(settings);
        streamer->setIcecastConfig(server);
        streamer->updateConfig([&](Configuration& config) {
            config.audioBitrate = settings.audioBitrate;
            config.sampleRate = source.sampleRate;
            config.channels = source.channels;
        });
    } else {
        streamer->configure(settings.serverURL, streamKeyToSend(settings),
                            engineBitrate(service, settings.audioBitrate), engineSampleRate(service, source.sampleRate),
                            source.channels);
        streamer->setVideoImagePath(settings.currentImagePath());
        sendOverlaysToEngine(settings);
    }
    streamer->connect();

    dashboard_.showConnectButton("Stop Streaming", false, false);
    showConnecting();
}

void TestAppDelegate::showConnecting()
{
    // A settings notice it replaces has been seen: it no longer holds the
    // line against the live status that follows.
    settingsNoticeUntil_.reset();
    dashboard_.showStatus(QString::fromUtf8("Connecting to stream…"), ordinaryStatusColor());
}

void TestAppDelegate::sendOverlaysToEngine(const ImageScheduleConfig& settings)
{
    streamer->setNowPlayingConfig(settings.nowPlaying);
    streamer->setVizConfig(settings.visualization);
    streamer->setCrawlerConfig(settings.crawler);
    streamer->setCrawlerFilePath(StationPath::crawlerFile());
    streamer->setNamedFileRules(settings.namedFileRules());
}

void TestAppDelegate::setConnectedUI()
{
    lastErrorText.reset();
    dashboard_.showConnectButton("Stop Streaming", false, true);
    dashboard_.setLampLit(true);

    // Called again (state and connection both report it), the clock restarts.
    stopUptimeClock();
    connectTime_ = clock_->now();
    liveKbps_ = shownKbps(scheduleConfig.audioBitrate);
    liveServiceName_ = liveServiceName(streamModeNamed(scheduleConfig.streamMode), streamer->config().serverURL);
    uptimeTimer_ = new QTimer(this);
    uptimeTimer_->setInterval(1000);
    connect(uptimeTimer_, &QTimer::timeout, this, [this] { showLiveStatus(); });
    uptimeTimer_->start();
    showLiveStatus();
}

void TestAppDelegate::showLiveStatus()
{
    if (!connectTime_ || !dashboard_.statusLabel() || isSettingsNoticeShowing()) return;
    const auto elapsed = static_cast<std::int64_t>(std::trunc(clock_->now() - *connectTime_));
    const SourceSwitcher::Note note = liveStatusNote();
    const QString text = QString::fromStdString(connectedStatusText(liveServiceName_, liveKbps_, elapsed, note.text));
    const QString name = QString::fromStdString(note.application);
    // After a settings notice the live colour comes back with the text.
    if (dashboard_.statusColor() != liveStatusColor()) dashboard_.showStatus(text, liveStatusColor(), name);
    else dashboard_.setStatusText(text, name);
}

SourceSwitcher::Note TestAppDelegate::liveStatusNote() const
{
    // First what is amiss with the source on air ("'Auto' is not playing —
    // carrier on air"); else, the stream going on, that only the station's
    // own listening is gone; else the application captured.
    if (SourceSwitcher::Note silent = sources_.silentSourceNote(); !silent.text.empty()) return silent;
    if (activeAudioSource() == AudioSourceKind::local && player->engine().isMissingSoundServer())
        return {"Local player not heard", {}};
    // Which application's sound is on air, whoever chose it.
    if (std::string captured = sources_.capturedApplication(); !captured.empty())
        return {"Capturing '" + captured + "'", captured};
    return {};
}

void TestAppDelegate::setDisconnectedUI()
{
    dashboard_.showConnectButton("Start Streaming", true, false);
    const SourceReadiness readiness{
        .tcpReceiving = tcpServer->isReceiving(),
        .capturing = appCapture() && appCapture()->isDelivering(),
        .soundServerMissing = player->engine().isMissingSoundServer(),
        .appCaptureName = scheduleConfig.appCaptureName,
        .appCaptureWaiting = sources_.appCaptureWaiting(),
    };
    const IdleLook look = idleLook(audioSourceNamed(scheduleConfig.audioSource), readiness);
    dashboard_.setLampLit(look.lampLit);
    if (lastErrorText) dashboard_.showStatus(*lastErrorText, ordinaryStatusColor());
    else dashboard_.showStatus(QString::fromStdString(look.statusText), ui::white(1.0, look.statusAlpha));

    stopUptimeClock();
}

void TestAppDelegate::stopUptimeClock()
{
    if (uptimeTimer_) {
        uptimeTimer_->stop();
        uptimeTimer_->deleteLater();
        uptimeTimer_ = nullptr;
    }
    connectTime_.reset();
}

}  // namespace ondaline::app
