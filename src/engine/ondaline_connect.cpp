// Starting and stopping a broadcast: configure, connect, disconnect.

#include "engine/ondaline.h"

#include "base/amf0_writer.h"
#include "base/print.h"
#include "models/server_url.h"
#include "platform/net/connection.h"

namespace ondaline {

namespace {
constexpr auto connectTimeout = std::chrono::seconds(10);
}

void Ondaline::configure(const std::string& serverURL, const std::string& streamKey, std::int64_t audioBitrate,
                         double sampleRate, std::uint32_t channels)
{
    updateConfig([&](Configuration& config) {
        config.serverURL = serverURL;
        config.streamKey = streamKey;
        config.audioBitrate = audioBitrate;
        config.sampleRate = sampleRate;
        config.channels = channels;
    });
}

void Ondaline::connect()
{
    networkQueue_.sync([this] { connectOnNetworkQueue(); });
}

void Ondaline::connectOnNetworkQueue()
{
    const StreamState current = state();
    if (current != StreamState::idle && current != StreamState::error) {
        print("Ondaline: Cannot connect — state is " + std::string(rawValue(current)));
        return;
    }
    // The user starting again replaces a retry that was still waiting. (The
    // retry's own timer clears the pending flag before it calls us.)
    if (reconnectPending()) reconnectTimer_.cancel();

    if (streamMode() == StreamMode::icecast) connectIcecast();
    else connectRTMP();
}

bool Ondaline::parseURL(const std::string& url)
{
    const auto address = parseServerURL(url);
    if (!address) return false;  // another scheme: the fields stay as they were
    server_.set(ServerFields{address->useTLS, address->host, address->port, address->app});
    return !address->host.empty();
}

void Ondaline::connectRTMP()
{
    const Configuration settings = config();
    if (!parseURL(settings.serverURL)) {
        reportError("Invalid RTMP URL: " + settings.serverURL);
        return;
    }
    if (settings.streamKey.empty()) {
        reportError("Stream key is empty");
        return;
    }
    if (settings.streamKey.size() > amf0MaxStringBytes || settings.serverURL.size() > amf0MaxStringBytes) {
        reportError("Stream key or server URL is longer than RTMP allows (65535 bytes)");
        return;
    }
    resetState();
    setState(StreamState::connecting);

    const ServerFields server = serverFields();
    print("Ondaline: Connecting to " + server.serverHost + ":" + std::to_string(server.serverPort) +
          " app=" + server.serverApp + " tls=" + (server.useTLS ? "true" : "false"));

    // Our check below bounds the whole attempt, TLS handshake included, and
    // reports it. The connection's own limit covers only the lookup and the
    // TCP connect; it stays behind ours so that a silent server always ends
    // the same way, whichever phase it stalls in.
    platform::ConnectionOptions options;
    options.useTLS = server.useTLS;
    options.connectTimeout = connectTimeout + std::chrono::seconds(2);
    auto connection = std::make_shared<platform::Connection>(server.serverHost, server.serverPort, options);

    const std::uint64_t epoch = beginAttempt(&Ondaline::connection_, std::move(connection),
                                             &Ondaline::handleConnectionState);

    networkQueue_.asyncAfter(connectTimeout, [weakSelf = weak_from_this(), epoch, server] {
        const auto self = weakSelf.lock();
        if (!self) return;
        const auto attempt = self->currentAttempt();
        const auto& stillConnecting = attempt.connection;
        if (attempt.epoch != epoch || !stillConnecting || self->state() != StreamState::connecting) return;
        if (self->reconnector_.wasPublishing()) {
            // Its cancelled notice schedules the next retry.
            print("Ondaline: ⚠ Connection timeout (10s) — canceling and retrying");
            stillConnecting->cancel();
            return;
        }
        std::string message = "Connection timed out after 10 s (" + server.serverHost + ":" +
                              std::to_string(server.serverPort) + ")";
        // A TLS client facing a plain RTMP port waits for an answer that never comes.
        if (server.useTLS) message += " — the port may not speak TLS";
        self->reportError(message);
    });

    startStatisticsTimer();
}

void Ondaline::startStatisticsTimer()
{
    const auto first = platform::Timer::Clock::now() + std::chrono::seconds(1);
    statsTimer_.scheduleRepeating(first, std::chrono::seconds(1), [weakSelf = weak_from_this()] {
        if (const auto self = weakSelf.lock()) {
            self->notifyDelegate([](OndalineDelegate& delegate, Ondaline& engine) {
                delegate.ondalineDidUpdateStats(engine, engine.totalBytesSent(), engine.audioPacketsSent());
            });
        }
    });
}

void Ondaline::disconnect()
{
    networkQueue_.sync([this] { disconnectOnNetworkQueue(); });
}

void Ondaline::disconnectOnNetworkQueue()
{
    const StreamState current = state();
    if (current == StreamState::disconnecting) return;
    if (current == StreamState::idle) {
        // Idle while a retry waits: the user's stop still stops.
        if (!reconnectPending()) return;
        print("Ondaline: Disconnecting…");
        cancelReconnect();
        notifyDelegate([](OndalineDelegate& delegate, Ondaline& self) { delegate.ondalineDidDisconnect(self); });
        return;
    }

    setState(StreamState::disconnecting);
    cancelReconnect();
    print("Ondaline: Disconnecting…");
    if (isRTMPMode()) {
        if (rtmp_.publishStreamID.load() != 0) {
            sendFCUnpublish();
            sendDeleteStream();
        }
        cleanupConnection();
    } else {
        cleanupIcecastConnection();
    }
    setState(StreamState::idle);
    notifyDelegate([](OndalineDelegate& delegate, Ondaline& self) { delegate.ondalineDidDisconnect(self); });
}

}  // namespace ondaline
