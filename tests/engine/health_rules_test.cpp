#include "engine/health/health_rules.h"

#include <gtest/gtest.h>

using namespace ondaline::health;

namespace {

struct Lines {
    std::vector<std::string> lines;
    Log log = [this](const std::string& line) { lines.push_back(line); };
    bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

// A monitor for a stream that went live at t = 1000 with nothing sent yet.
HealthMonitor liveAt1000()
{
    HealthMonitor monitor;
    monitor.lastSuccessfulPublishTime = monitor.streamStartTime = monitor.lastThroughputLogTime = 1000;
    monitor.start(1000, 0);
    return monitor;
}

}  // namespace

TEST(HealthMonitor, PingsOnTheFirstTickThenEveryIntervalOnTheThreeSecondGrid)
{
    Lines out;
    HealthMonitor monitor = liveAt1000();
    EXPECT_EQ(monitor.startLine(),
              "Ondaline: Health monitor started (ping every 10s, ack timeout 30s, latency reconnect threshold 2000ms)");
    std::vector<std::uint32_t> pings;
    for (int tick = 1; tick <= 10; ++tick) {
        if (auto p = monitor.tick(1000 + 3 * tick, {}, out.log).ping) pings.push_back(*p);
        if (tick == 1) {
            EXPECT_EQ(pings, std::vector<std::uint32_t>{1});
        }
    }
    // Pings at 3, 15, 27: each on the first tick at least 10 s after the last.
    EXPECT_EQ(pings, (std::vector<std::uint32_t>{1, 2, 3}));
    monitor.healthPingInterval = healthPingFastInterval;
    EXPECT_TRUE(monitor.tick(1030, {}, out.log).ping);  // 3.0 s after the ping at 1027
}

TEST(HealthMonitor, ReportsEveryThirtySeconds)
{
    Lines out;
    HealthMonitor monitor = liveAt1000();
    monitor.tick(1029.9, {}, out.log);
    EXPECT_TRUE(out.lines.empty());
    StreamFigures figures;
    figures.totalBytesSent = 1'500'000;
    figures.lastAudioTimestamp = 30000;
    figures.diagTapDeliveries = 1300;
    figures.diagPCMBytesReceived = 10'649'600;
    figures.diagDrainCalls = 1300;
    figures.diagAACFramesProduced = 1290;
    figures.ringBufferBytes = 512;
    figures.diagLastTapTime = 1029.9;
    monitor.tick(1030, figures, out.log);
    EXPECT_TRUE(out.has("Ondaline: 📊 THROUGHPUT [0m30s] — 400kbps avg, 1.5MB total, audioTs=30000ms videoTs=0ms "
                        "vtFrames=0"));
    EXPECT_TRUE(out.has("Ondaline: 🔍 AUDIO PIPE — tapDeliveries=1300 pcmBytes=10649600 drainCalls=1300 "
                        "aacFrames=1290 ringBuf=512B lastTap=0.1s ago"));
    out.lines.clear();
    monitor.tick(1060, {.totalBytesSent = 1'500'000}, out.log);  // nothing sent since
    EXPECT_TRUE(out.has("Ondaline: 📊 THROUGHPUT [1m0s] — 0kbps avg, 1.5MB total, audioTs=0ms videoTs=0ms vtFrames=0"));
    EXPECT_TRUE(out.has("Ondaline: 🔍 AUDIO PIPE — tapDeliveries=0 pcmBytes=0 drainCalls=0 aacFrames=0 ringBuf=0B "
                        "lastTap=never"));
}

TEST(HealthMonitor, ProactiveRenewalAfter1500Seconds)
{
    Lines out;
    HealthMonitor monitor = liveAt1000();
    EXPECT_FALSE(monitor.tick(2499.9, {}, out.log).proactiveReconnect);
    const auto decision = monitor.tick(2500, {}, out.log);
    EXPECT_TRUE(decision.proactiveReconnect);
    EXPECT_FALSE(decision.ping);
    EXPECT_TRUE(out.has("Ondaline: ⚠ HEALTH: Stream running 25m — proactive reconnect to stay fresh"));
}

TEST(HealthMonitor, AckWatchdogCountsOnlyWhatLiesBeyondTheAnnouncedWindow)
{
    // Bytes sent in 30 s of silence from the server, at low and high rates,
    // under the windows nginx (5000000) and others (2500000) announce.
    struct Case {
        std::uint32_t window;
        std::uint64_t sentIn30s;
        bool zombie;
    };
    for (const Case c : {Case{0, 499'999, false}, Case{0, 500'000, true}, Case{2'500'000, 1'500'000, false},
                         Case{2'500'000, 3'065'535, false}, Case{2'500'000, 3'065'536, true},
                         Case{5'000'000, 1'500'000, false}, Case{5'000'000, 7'500'000, true}}) {
        Lines out;
        HealthMonitor monitor = liveAt1000();
        monitor.announcedWindowAckSize = c.window;
        EXPECT_FALSE(monitor.tick(1029.9, {.totalBytesSent = c.sentIn30s}, out.log).zombieReason);
        const auto decision = monitor.tick(1030, {.totalBytesSent = c.sentIn30s}, out.log);
        EXPECT_EQ(decision.zombieReason.has_value(), c.zombie) << c.window << " " << c.sentIn30s;
        if (c.zombie) {
            EXPECT_EQ(*decision.zombieReason, "Server ack timeout (30s)");
            EXPECT_TRUE(out.has("Ondaline: ⚠ HEALTH: Server hasn't acknowledged " + std::to_string(c.sentIn30s / 1024) +
                                "KB in 30s — zombie connection detected"));
        }
    }
    // An acknowledgement resets both the silence and the count.
    Lines out;
    HealthMonitor monitor = liveAt1000();
    monitor.serverAcknowledged(1020, 400'000, 600'000);
    EXPECT_FALSE(monitor.tick(1049, {.totalBytesSent = 1'000'000}, out.log).zombieReason);
    EXPECT_TRUE(monitor.tick(1050, {.totalBytesSent = 1'100'000}, out.log).zombieReason);
}

TEST(LatencyEvaluator, ThresholdsOnBothSides)
{
    Lines out;
    LatencyEvaluator latency;
    double interval = healthPingNormalInterval;

    EXPECT_FALSE(latency.evaluate(199, 0, interval, out.log).reconnectReason);
    EXPECT_TRUE(out.lines.empty());  // already normal: nothing to say
    latency.evaluate(200, 1, interval, out.log);
    EXPECT_EQ(interval, healthPingFastInterval);
    EXPECT_TRUE(out.has("Ondaline: ⚠ HEALTH: Elevated latency (200ms) — switching to fast ping rate (3s)"));
    latency.evaluate(499, 2, interval, out.log);
    EXPECT_TRUE(latency.recentPingLatencies.empty());
    latency.evaluate(199, 3, interval, out.log);
    EXPECT_EQ(interval, healthPingNormalInterval);
    EXPECT_TRUE(out.has("Ondaline: HEALTH: Latency normal (199ms) — resuming standard ping rate (10s)"));

    latency.evaluate(500, 4, interval, out.log);
    EXPECT_EQ(latency.recentPingLatencies.size(), 1u);
    const auto spike = latency.evaluate(2000, 5, interval, out.log);
    EXPECT_EQ(spike.reconnectReason, "Ping latency 2000ms (>2000ms)");
    EXPECT_TRUE(out.has("Ondaline: ⚠ HEALTH: Ping latency 2000ms exceeds 2000ms — stream unhealthy"));
    EXPECT_EQ(latency.recentPingLatencies.size(), 1u);  // a spike is not stored
    EXPECT_FALSE(latency.evaluate(1999, 6, interval, out.log).reconnectReason);
    EXPECT_EQ(latency.recentPingLatencies.size(), 2u);
}

TEST(LatencyEvaluator, ThreeSlowPingsInsideTheWindowTrigger)
{
    Lines out;
    LatencyEvaluator latency;
    double interval = healthPingNormalInterval;
    latency.evaluate(600, 0, interval, out.log);
    latency.evaluate(700, 60, interval, out.log);
    // The first sample is exactly 120.0 s old when the third arrives: gone.
    EXPECT_FALSE(latency.evaluate(800, 120, interval, out.log).reconnectReason);
    const auto verdict = latency.evaluate(900, 150, interval, out.log);
    EXPECT_EQ(verdict.reconnectReason, "3 pings >500ms in 120s");
    EXPECT_TRUE(out.has("Ondaline: ⚠ HEALTH: 3 pings >500ms in 120s window [700ms, 800ms, 900ms] — stream unhealthy"));
    // A fast reply while three are still in the window triggers again.
    EXPECT_TRUE(latency.evaluate(50, 151, interval, out.log).reconnectReason);
}

TEST(LatencyReconnects, ThreeAllowedTheFourthExhausts)
{
    LatencyReconnects allowance;
    EXPECT_EQ(allowance.next(), 1);
    EXPECT_EQ(allowance.next(), 2);
    EXPECT_EQ(allowance.next(), 3);
    EXPECT_EQ(allowance.next(), std::nullopt);
    EXPECT_TRUE(allowance.latencyReconnectExhausted);
    allowance.reset();
    EXPECT_EQ(allowance.next(), 1);
}

TEST(HealthMonitor, PongLatencyIsMeasuredFromTheLatestPing)
{
    HealthMonitor monitor = liveAt1000();
    monitor.pingSent(1003);
    monitor.pingSent(1015);
    EXPECT_EQ(monitor.pongReceived(1015.1234), 123);
    EXPECT_FALSE(monitor.awaitingPong);
}
