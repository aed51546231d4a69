// Watching a live RTMP stream: the 3-second health check, pings and their
// latencies, the server's acknowledgements, and the reconnects they call for.

#include "engine/ondaline.h"

#include "base/print.h"
#include "engine/rtmp/commands.h"

namespace ondaline {

namespace {
const health::Log logLine = [](const std::string& line) { print(line); };
}

void Ondaline::startHealthMonitor()
{
    stopHealthMonitor();
    health_.start(clock_->now(), totalBytesSent());
    latency_.recentPingLatencies.clear();
    const auto interval = std::chrono::duration_cast<platform::Timer::Clock::duration>(
        std::chrono::duration<double>(health::checkIntervalSec));
    healthTimer_.scheduleRepeating(platform::Timer::Clock::now() + interval, interval, [weakSelf = weak_from_this()] {
        if (const auto self = weakSelf.lock()) self->healthCheck();
    });
    print(health_.startLine());
}

void Ondaline::stopHealthMonitor() { healthTimer_.cancel(); }

void Ondaline::healthCheck()
{
    if (state() != StreamState::publishing || streamMode() != StreamMode::rtmp) return;
    health::StreamFigures figures{
        .totalBytesSent = totalBytesSent(),
        .vtFrameCount = vtFrameCount_,
        .diagTapDeliveries = diagTapDeliveries_,
        .diagPCMBytesReceived = diagPCMBytesReceived_,
        .diagDrainCalls = diagDrainCalls_,
        .diagAACFramesProduced = audioLoop_.diagAACFramesProduced,
        .diagLastTapTime = diagLastTapTime_,
        .ringBufferBytes = pcmRing_.size(),
    };
    encoderQueue_.sync([&] {  // the media timestamps belong to the encoder queue
        figures.lastAudioTimestamp = media_.lastAudioTimestamp;
        figures.lastVideoTimestamp = media_.lastVideoTimestamp;
    });
    const auto decision = health_.tick(clock_->now(), figures, logLine);
    if (decision.proactiveReconnect) {
        // A fresh connection at once; the old one's late notices belong to
        // an older attempt and are ignored.
        stopHealthMonitor();
        cleanupConnection();
        reconnector_.resetAttempts();
        setState(StreamState::idle);
        connectOnNetworkQueue();
        return;
    }
    if (decision.ping) sendPingRequest(*decision.ping);
    if (decision.zombieReason) triggerHealthReconnect(*decision.zombieReason);
}

void Ondaline::sendPingRequest(std::uint32_t sequence)
{
    Bytes payload;
    appendUInt16BE(payload, 6);
    appendUInt32BE(payload, sequence);
    sendMessage(rtmp::userControlType, 0, rtmp::controlChunkStream, payload);
    flushSendQueue();
    print("Ondaline: Sent Ping Request (seq=" + std::to_string(sequence) + ")");
}

void Ondaline::handlePongResponse(std::uint32_t value)
{
    const std::int64_t latency = health_.pongReceived(clock_->now());
    print("Ondaline: Ping Response received (seq=" + std::to_string(value) + ", latency=" + std::to_string(latency) +
          "ms)");
    evaluateLatency(latency);
}

void Ondaline::handleServerAck(const Bytes& data)
{
    const auto bytes = readUInt32BE(data, 0);
    if (!bytes) return;
    health_.serverAcknowledged(clock_->now(), *bytes, totalBytesSent());
    print("Ondaline: Server ack: " + std::to_string(*bytes) + " bytes received by server");
}

void Ondaline::evaluateLatency(std::int64_t latencyMs)
{
    const StreamMode mode = streamMode();
    if (mode == StreamMode::youtube || mode == StreamMode::facebook || mode == StreamMode::kick) return;
    if (latencyReconnects_.latencyReconnectExhausted) return;
    const auto verdict = latency_.evaluate(latencyMs, clock_->now(), health_.healthPingInterval, logLine);
    if (verdict.reconnectReason) triggerLatencyReconnect(*verdict.reconnectReason);
}

void Ondaline::tearDownForMode()
{
    if (streamMode() == StreamMode::icecast) cleanupIcecastConnection();
    else cleanupConnection();
}

void Ondaline::triggerLatencyReconnect(const std::string& reason)
{
    const std::string limit = std::to_string(health::maxLatencyReconnects);
    const auto attempt = latencyReconnects_.next();
    if (!attempt) {
        print("Ondaline: ⚠ HEALTH: Max latency reconnects (" + limit + ") reached — alerting user");
        stopHealthMonitor();
        notifyDelegate([limit](OndalineDelegate& delegate, Ondaline& self) {
            delegate.ondalineDidEncounterError(self,
                                               "Stream unstable — " + limit +
                                                   " reconnect attempts failed. Server may be overloaded.",
                                               NoticeKind::unstable);
        });
        return;
    }
    const std::string delay = std::to_string(static_cast<int>(health::healthReconnectDelaySec));
    print("Ondaline: ⚠ HEALTH: Stream unhealthy — reconnecting in " + delay + "s (attempt " + std::to_string(*attempt) +
          "/" + limit + ")… Reason: " + reason);
    stopHealthMonitor();
    stopCarrierWatchdog();
    reconnector_.setWasPublishing(true);
    notifyDelegate([delay, limit, count = *attempt](OndalineDelegate& delegate, Ondaline& self) {
        delegate.ondalineDidEncounterError(self,
                                           "Stream unhealthy — reconnecting in " + delay + "s (" +
                                               std::to_string(count) + "/" + limit + ")…",
                                           NoticeKind::unhealthy);
    });
    // The same slot as the back-off: one pending reconnect at a time.
    const auto pause = std::chrono::duration_cast<platform::Timer::Clock::duration>(
        std::chrono::duration<double>(health::healthReconnectDelaySec));
    reconnectTimer_.scheduleAfter(pause, [weakSelf = weak_from_this()] {
        const auto self = weakSelf.lock();
        if (!self) return;
        print("Ondaline: ⚠ HEALTH: Executing delayed reconnect now");
        self->tearDownForMode();
        self->setState(StreamState::idle);
        self->connectOnNetworkQueue();
    });
}

void Ondaline::triggerHealthReconnect(const std::string& reason)
{
    print("Ondaline: Health monitor forcing reconnect — " + reason);
    stopHealthMonitor();
    stopCarrierWatchdog();
    reconnector_.setWasPublishing(true);
    tearDownForMode();
    attemptReconnect();
}

}  // namespace ondaline
