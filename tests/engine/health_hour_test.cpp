// An hour of a live stream's health checks in a moment: the rules run on
// simulated time against a server that behaves (acknowledges every window,
// answers pings, now and then slowly). Nothing may fire but the proactive
// renewal every 25 minutes, and nothing they keep may grow with time.

#include "engine/health/health_rules.h"

#include <gtest/gtest.h>

using namespace ondaline::health;

TEST(HealthHour, AWellBehavedServerSeesOnlyTheRenewalsInAnHour)
{
    constexpr double hour = 3600;
    constexpr std::uint64_t bytesPerSecond = 190000;  // AAC 320 kb/s and H.264 1.2 Mb/s
    constexpr std::uint32_t window = 5000000;
    HealthMonitor monitor;
    LatencyEvaluator latency;
    monitor.announcedWindowAckSize = window;
    monitor.lastSuccessfulPublishTime = monitor.streamStartTime = monitor.lastThroughputLogTime = 0;
    monitor.start(0, 0);

    int renewals = 0, reports = 0, zombies = 0, latencyVerdicts = 0;
    std::size_t mostLatencies = 0;
    std::uint64_t sent = 0, acknowledgedUpTo = 0;
    const Log log = [&](const std::string& line) {
        if (line.find("THROUGHPUT") != std::string::npos) ++reports;
    };
    for (double now = checkIntervalSec; now <= hour; now += checkIntervalSec) {
        sent += static_cast<std::uint64_t>(bytesPerSecond * checkIntervalSec);
        while (sent - acknowledgedUpTo >= window) {  // the server acknowledges each whole window
            acknowledgedUpTo += window;
            monitor.serverAcknowledged(now, static_cast<std::uint32_t>(acknowledgedUpTo), sent);
        }
        StreamFigures figures;
        figures.totalBytesSent = sent;
        figures.lastAudioTimestamp = static_cast<std::uint32_t>(now * 1000);
        const auto decision = monitor.tick(now, figures, log);
        if (decision.proactiveReconnect) {
            // A renewal is a new publish: the marks start again.
            ++renewals;
            monitor.lastSuccessfulPublishTime = now;
            monitor.start(now, sent);
            acknowledgedUpTo = sent;
            continue;
        }
        if (decision.zombieReason) ++zombies;
        if (decision.ping) {
            monitor.pingSent(now);
            // Every 40th answer is slow, none slow enough to matter.
            const double delay = *decision.ping % 40 == 0 ? 0.6 : 0.02;
            const auto ms = monitor.pongReceived(now + delay);
            if (latency.evaluate(ms, now + delay, monitor.healthPingInterval, log).reconnectReason) ++latencyVerdicts;
            mostLatencies = std::max(mostLatencies, latency.recentPingLatencies.size());
        }
    }
    EXPECT_EQ(renewals, 2);  // at 25 and 50 minutes
    EXPECT_EQ(zombies, 0);
    EXPECT_EQ(latencyVerdicts, 0);
    EXPECT_LE(mostLatencies, 2u);  // the 120 s window forgets, it does not pile up
    EXPECT_GE(reports, 115);       // every 30 s
    EXPECT_EQ(monitor.healthPingInterval, healthPingNormalInterval);
}
