#pragma once

// The rules that watch a live RTMP stream, as plain logic over times and
// counters handed in by the engine: the health check's tick, the latency
// verdicts and the allowance of latency reconnects. Nothing here waits,
// sends or reads a clock; the engine's timers drive it and act on what it
// decides.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ondaline::health {

inline constexpr double checkIntervalSec = 3.0;
inline constexpr double healthPingNormalInterval = 10.0;
inline constexpr double healthPingFastInterval = 3.0;
inline constexpr double healthAckTimeout = 30.0;
inline constexpr std::uint64_t healthAckMinBytes = 500000;
inline constexpr double proactiveReconnectIntervalSec = 1500.0;
inline constexpr double reportIntervalSec = 30.0;
inline constexpr std::int64_t latencySpikeTriggerMs = 2000;
inline constexpr std::int64_t latencyElevatedMs = 500;
inline constexpr std::int64_t latencyAdaptiveThresholdMs = 200;
inline constexpr std::int64_t latencyTrendCount = 3;
inline constexpr double latencyTrendWindowSec = 120.0;
inline constexpr std::int64_t maxLatencyReconnects = 3;
inline constexpr double healthReconnectDelaySec = 5.0;

// Room above the announced acknowledgement window before bytes count as
// unacknowledged: the server acknowledges only once a whole window is in.
inline constexpr std::uint64_t ackWindowMargin = 64 * 1024;

using Log = std::function<void(const std::string&)>;

// What the engine tells a tick about the stream.
struct StreamFigures {
    std::uint64_t totalBytesSent = 0;
    std::uint32_t lastAudioTimestamp = 0;
    std::uint32_t lastVideoTimestamp = 0;
    std::int64_t vtFrameCount = 0;
    std::uint64_t diagTapDeliveries = 0;
    std::uint64_t diagPCMBytesReceived = 0;
    std::uint64_t diagDrainCalls = 0;
    std::uint64_t diagAACFramesProduced = 0;
    double diagLastTapTime = 0;
    std::size_t ringBufferBytes = 0;
};

struct TickDecision {
    bool proactiveReconnect = false;
    std::optional<std::uint32_t> ping;        // send this ping now
    std::optional<std::string> zombieReason;  // force a health reconnect
};

// The health check's marks for one live stream.
struct HealthMonitor {
    double lastSuccessfulPublishTime = 0;
    double streamStartTime = 0;
    double lastThroughputLogTime = 0;
    std::uint64_t lastThroughputLogBytes = 0;
    double lastPingSentTime = 0;
    double lastPongReceivedTime = 0;
    std::uint32_t pingSequence = 0;
    bool awaitingPong = false;
    double healthPingInterval = healthPingNormalInterval;
    double lastServerAckTime = 0;
    std::uint32_t lastServerAckBytes = 0;
    std::uint64_t bytesSentAtLastAckCheck = 0;
    std::uint32_t announcedWindowAckSize = 0;  // what the client last told the server

    void start(double now, std::uint64_t totalBytesSent);
    std::string startLine() const;

    // One tick at `now` (call only while publishing in the plain RTMP mode).
    TickDecision tick(double now, const StreamFigures& figures, const Log& log);

    void pingSent(double now);
    // The latency of a ping response arriving at `now`, in whole ms.
    std::int64_t pongReceived(double now);
    void serverAcknowledged(double now, std::uint32_t bytes, std::uint64_t totalBytesSent);
};

struct LatencyVerdict {
    std::optional<std::string> reconnectReason;
};

// Judges ping latencies: a spike reconnects at once, 200 ms switches the
// ping rate, slow pings (500 ms) counted over 120 s reconnect on the third.
struct LatencyEvaluator {
    std::vector<std::pair<double, std::int64_t>> recentPingLatencies;

    LatencyVerdict evaluate(std::int64_t latencyMs, double now, double& healthPingInterval, const Log& log);
};

// The allowance of latency reconnects between two publish starts.
struct LatencyReconnects {
    std::int64_t latencyReconnectAttempts = 0;
    bool latencyReconnectExhausted = false;

    void reset()
    {
        latencyReconnectAttempts = 0;
        latencyReconnectExhausted = false;
    }

    // The attempt number (1 to 3), or absent once the allowance is used up
    // (the flag is then set).
    std::optional<std::int64_t> next();
};

}  // namespace ondaline::health
