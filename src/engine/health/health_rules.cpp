#include "engine/health/health_rules.h"

#include <cstdio>

namespace ondaline::health {

namespace {

std::string oneDecimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string whole(double value) { return std::to_string(static_cast<std::int64_t>(value)); }

// Counters never run backwards within a connection; should one, count nothing.
std::uint64_t since(std::uint64_t now, std::uint64_t mark) { return now >= mark ? now - mark : 0; }

}  // namespace

void HealthMonitor::start(double now, std::uint64_t totalBytesSent)
{
    lastServerAckTime = now;
    lastPongReceivedTime = now;
    lastPingSentTime = 0;
    awaitingPong = false;
    bytesSentAtLastAckCheck = totalBytesSent;
    pingSequence = 0;
    healthPingInterval = healthPingNormalInterval;
}

std::string HealthMonitor::startLine() const
{
    return "Ondaline: Health monitor started (ping every " + whole(healthPingInterval) + "s, ack timeout " +
           whole(healthAckTimeout) + "s, latency reconnect threshold " + std::to_string(latencySpikeTriggerMs) + "ms)";
}

TickDecision HealthMonitor::tick(double now, const StreamFigures& figures, const Log& log)
{
    TickDecision decision;
    const double live = now - lastSuccessfulPublishTime;
    if (!(live < proactiveReconnectIntervalSec)) {
        log("Ondaline: ⚠ HEALTH: Stream running " + whole(live / 60) + "m — proactive reconnect to stay fresh");
        decision.proactiveReconnect = true;
        return decision;
    }

    const double sinceReport = now - lastThroughputLogTime;
    if (sinceReport >= reportIntervalSec) {
        const std::uint64_t total = figures.totalBytesSent;
        const double delta = static_cast<double>(since(total, lastThroughputLogBytes));
        const auto kbps = static_cast<std::int64_t>(delta * 8 / (sinceReport * 1000));
        const auto uptime = static_cast<std::int64_t>(now - streamStartTime);
        log("Ondaline: 📊 THROUGHPUT [" + std::to_string(uptime / 60) + "m" + std::to_string(uptime % 60) + "s] — " +
            std::to_string(kbps) + "kbps avg, " + oneDecimal(static_cast<double>(total) / 1e6) + "MB total, audioTs=" +
            std::to_string(figures.lastAudioTimestamp) + "ms videoTs=" + std::to_string(figures.lastVideoTimestamp) +
            "ms vtFrames=" + std::to_string(figures.vtFrameCount));
        const std::string lastTap = figures.diagLastTapTime > 0 ? oneDecimal(now - figures.diagLastTapTime) + "s ago"
                                                                : "never";
        log("Ondaline: 🔍 AUDIO PIPE — tapDeliveries=" + std::to_string(figures.diagTapDeliveries) + " pcmBytes=" +
            std::to_string(figures.diagPCMBytesReceived) + " drainCalls=" + std::to_string(figures.diagDrainCalls) +
            " aacFrames=" + std::to_string(figures.diagAACFramesProduced) +
            " ringBuf=" + std::to_string(figures.ringBufferBytes) + "B lastTap=" + lastTap);
        lastThroughputLogTime = now;
        lastThroughputLogBytes = total;
    }

    if (now - lastPingSentTime >= healthPingInterval) {
        decision.ping = ++pingSequence;
        lastPingSentTime = now;
        awaitingPong = true;
    }

    // The server acknowledges once per window the client announced, so only
    // what lies beyond a window (and a margin) is really unacknowledged.
    const std::uint64_t unacked = since(figures.totalBytesSent, bytesSentAtLastAckCheck);
    const std::uint64_t expected = static_cast<std::uint64_t>(announcedWindowAckSize) +
                                   (announcedWindowAckSize > 0 ? ackWindowMargin : 0);
    const std::uint64_t overdue = since(unacked, expected);
    const double silent = now - lastServerAckTime;
    if (overdue >= healthAckMinBytes && silent >= healthAckTimeout) {
        log("Ondaline: ⚠ HEALTH: Server hasn't acknowledged " + std::to_string(unacked / 1024) + "KB in " +
            whole(silent) + "s — zombie connection detected");
        decision.zombieReason = "Server ack timeout (" + whole(silent) + "s)";
    }
    return decision;
}

void HealthMonitor::pingSent(double now)
{
    lastPingSentTime = now;
    awaitingPong = true;
}

std::int64_t HealthMonitor::pongReceived(double now)
{
    lastPongReceivedTime = now;
    awaitingPong = false;
    return static_cast<std::int64_t>((lastPongReceivedTime - lastPingSentTime) * 1000);
}

void HealthMonitor::serverAcknowledged(double now, std::uint32_t bytes, std::uint64_t totalBytesSent)
{
    lastServerAckTime = now;
    lastServerAckBytes = bytes;
    bytesSentAtLastAckCheck = totalBytesSent;
}

LatencyVerdict LatencyEvaluator::evaluate(std::int64_t latencyMs, double now, double& healthPingInterval,
                                          const Log& log)
{
    const std::string spike = std::to_string(latencySpikeTriggerMs);
    if (latencyMs >= latencySpikeTriggerMs) {
        log("Ondaline: ⚠ HEALTH: Ping latency " + std::to_string(latencyMs) + "ms exceeds " + spike +
            "ms — stream unhealthy");
        return {"Ping latency " + std::to_string(latencyMs) + "ms (>" + spike + "ms)"};
    }
    if (latencyMs < latencyAdaptiveThresholdMs) {
        if (healthPingInterval != healthPingNormalInterval) {
            healthPingInterval = healthPingNormalInterval;
            log("Ondaline: HEALTH: Latency normal (" + std::to_string(latencyMs) +
                "ms) — resuming standard ping rate (" + whole(healthPingNormalInterval) + "s)");
        }
    } else if (healthPingInterval != healthPingFastInterval) {
        healthPingInterval = healthPingFastInterval;
        log("Ondaline: ⚠ HEALTH: Elevated latency (" + std::to_string(latencyMs) +
            "ms) — switching to fast ping rate (" + whole(healthPingFastInterval) + "s)");
    }
    if (latencyMs >= latencyElevatedMs) recentPingLatencies.emplace_back(now, latencyMs);
    std::erase_if(recentPingLatencies,
                  [&](const auto& sample) { return !(now - sample.first < latencyTrendWindowSec); });
    if (static_cast<std::int64_t>(recentPingLatencies.size()) < latencyTrendCount) return {};

    std::string list;
    for (const auto& [time, ms] : recentPingLatencies) list += (list.empty() ? "" : ", ") + std::to_string(ms) + "ms";
    const std::string count = std::to_string(recentPingLatencies.size());
    const std::string summary = count + " pings >" + std::to_string(latencyElevatedMs) + "ms in " +
                                whole(latencyTrendWindowSec) + "s";
    log("Ondaline: ⚠ HEALTH: " + summary + " window [" + list + "] — stream unhealthy");
    return {summary};
}

std::optional<std::int64_t> LatencyReconnects::next()
{
    const std::int64_t attempt = ++latencyReconnectAttempts;
    if (attempt > maxLatencyReconnects) {
        latencyReconnectExhausted = true;
        return std::nullopt;
    }
    return attempt;
}

}  // namespace ondaline::health
