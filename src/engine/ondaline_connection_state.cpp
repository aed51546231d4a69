// A connection's life: its notices, the reset before each attempt, the
// teardown, and the one way failures are reported.

#include "engine/ondaline.h"

#include "base/print.h"
#include "engine/icecast/icecast_protocol.h"
#include "platform/net/connection.h"

namespace ondaline {

void Ondaline::handleConnectionState(const platform::ConnectionState& notice, std::uint64_t epoch)
{
    if (!isCurrentAttempt(epoch)) return;  // a replaced attempt has no say any more
    using Kind = platform::ConnectionState::Kind;
    switch (notice.kind) {
    case Kind::failed:
        // Already torn down (time-out, stop, another failure): that was the
        // report, this is no news.
        if (!isOpenAttempt(epoch)) break;
        print("Ondaline: Connection failed: " + notice.error);
        cleanupConnection();
        if (reconnector_.wasPublishing()) attemptReconnect();
        else reportError("Connection failed: " + notice.error);
        break;
    case Kind::ready:
        print("Ondaline: TCP connected — starting RTMP handshake");
        setState(StreamState::handshaking);
        beginHandshake();
        break;
    case Kind::cancelled: {
        const bool reconnect = reconnector_.wasPublishing() && state() != StreamState::disconnecting &&
                               !reconnectPending();
        if (state() != StreamState::idle) setState(StreamState::idle);
        if (reconnect) attemptReconnect();
        break;
    }
    case Kind::preparing:
        break;
    }
}

void Ondaline::resetState()
{
    totalBytesSent_ = 0;

    rtmp_.outChunkSize = 128;
    rtmp_.nextTransactionID = 1.0;
    rtmp_.createStreamTxID = 0.0;
    rtmp_.publishStreamID = 0;
    chunkReader_.reset();
    rtmp_.totalBytesReceived = 0;
    rtmp_.lastAckSent = 0;
    rtmp_.messagesSentSincePublish = 0;

    health_ = health::HealthMonitor{};
    latency_ = health::LatencyEvaluator{};
    latencyReconnects_.reset();
    icecastConnected_ = false;
    droppedVideoFrames_ = 0;

    sendQueue_.reset();

    resetAudioState();
    destroyVideoEncoder();
}

void Ondaline::cleanupConnection()
{
    negotiationTimer_.cancel();
    stopHealthMonitor();
    stopCarrierWatchdog();
    stopVideoTimer();
    statsTimer_.cancel();
    std::shared_ptr<platform::Connection> connection;
    {
        std::lock_guard lock(connectionLock_);
        connection = std::exchange(connection_, nullptr);
    }
    if (connection) connection->cancel();
    destroyEncoder();
    destroyVideoEncoder();
}

std::string Ondaline::withoutSecrets(std::string text) const
{
    const IcecastConfig icecast = icecastConfig();
    const std::string secrets[] = {config().streamKey, icecast.password,
                                   icecast::basicCredentials(icecast.username, icecast.password)};
    for (const std::string& secret : secrets) {
        if (secret.size() < 4) continue;  // a word that short would hide ordinary text, and guards little
        for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
            text.replace(at, secret.size(), "***");
        }
    }
    return text;
}

void Ondaline::reportError(const std::string& given)
{
    // Server URLs and the servers' own words can carry the key.
    const std::string message = withoutSecrets(given);
    print("Ondaline ERROR: " + message);
    const bool reconnect = reconnector_.wasPublishing() && state() != StreamState::disconnecting;
    setState(StreamState::error);
    if (reconnect) {
        if (streamMode() == StreamMode::icecast) cleanupIcecastConnection();
        else cleanupConnection();
        attemptReconnect();
        return;
    }
    // Close what the failed attempt left open, so nothing lingers until the
    // user starts again; the cancelled notice that follows moves on to idle.
    if (streamMode() == StreamMode::icecast) cleanupIcecastConnection();
    else cleanupConnection();
    notifyDelegate([message](OndalineDelegate& delegate, Ondaline& self) {
        delegate.ondalineDidEncounterError(self, message, NoticeKind::failure);
    });
}

}  // namespace ondaline
