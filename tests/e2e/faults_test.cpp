// A bad network between the engine and real servers: a relay in front of
// nginx-rtmp and icecast2 delays, throttles, stalls, cuts and corrupts the
// traffic while the harness streams. Each run must say what happened, be
// live again where the reconnect rules say it comes back, keep its memory
// bounded and stop in order by itself.

#include "support/background_harness.h"
#include "support/fault_relay.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

using namespace ondaline::test;
using namespace std::chrono_literals;

namespace {

constexpr long peakRSSLimitKB = 300 * 1024;

// Every run streams until it has been live twice (before the fault and
// after the recovery), then one second more. A run that never comes back
// gives up by itself 90 s after going live, well within the time-out.
const std::string harnessCommand = "timeout 130 " + shellQuote(ONDALINE_HARNESS) +
                                   " --source tone --connects 2 --seconds 1";

struct Finished {
    int exitCode;
    std::string output;
};

Finished finish(BackgroundHarness& harness)
{
    const int exitCode = harness.finish();
    return {exitCode, harness.output()};
}

std::uint16_t portOf(const std::map<std::string, std::string>& env, const std::string& key)
{
    return static_cast<std::uint16_t>(std::stoi(env.at(key)));
}

// Live twice, over two relayed connections, ended in order within the bound.
void expectBackLiveOnce(const Finished& run, const FaultRelay& relay)
{
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("harness: stream went live and ended in order"), std::string::npos) << run.output;
    EXPECT_EQ(occurrences(run.output, "delegate: connected"), 2) << run.output;
    EXPECT_EQ(relay.counters().accepted, 2u);
    const auto peakKB = peakRSSKB(run.output);
    ASSERT_TRUE(peakKB) << run.output;
    EXPECT_LT(*peakKB, peakRSSLimitKB) << run.output;
}

void expectText(const Finished& run, const std::string& text)
{
    EXPECT_NE(run.output.find(text), std::string::npos) << text << "\n" << run.output;
}

// The link dies without a word until the engine gives the connection up.
Finished stallUntilARetryIsDue(BackgroundHarness& harness, FaultRelay& relay)
{
    relay.stall();
    EXPECT_TRUE(harness.waitFor("delegate: error Reconnecting (1/10)…", 60s));
    relay.resume();
    return finish(harness);
}

// Resets the live connection and turns the first retry away; the second
// gets through.
Finished cutAndRefuseOneRetry(BackgroundHarness& harness, FaultRelay& relay)
{
    relay.refuse(true);
    relay.cut();
    EXPECT_TRUE(harness.waitFor("Ondaline: Reconnecting in 15s (attempt 2/10)…", 45s));
    relay.refuse(false);
    return finish(harness);
}

// Two failures, the cut and the refused retry: each is told once and costs
// one step of the back-off.
void expectTwoStepsOfTheBackOff(const Finished& run, const FaultRelay& relay)
{
    expectText(run, "delegate: error Reconnecting (1/10)…");
    expectText(run, "delegate: error Reconnecting (2/10)…");
    EXPECT_EQ(run.output.find("(attempt 3/10)"), std::string::npos) << run.output;
    EXPECT_EQ(relay.counters().refused, 1u);
}

class RTMPFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        env_ = loadPeerEnv("rtmp");
        ASSERT_FALSE(env_.empty()) << "the rtmp peer is not running";
        relay_.emplace(portOf(env_, "ONDALINE_RTMP_PORT"));
    }

    std::unique_ptr<BackgroundHarness> stream(const std::string& key, const std::string& extra = "")
    {
        key_ = key;
        recordedBefore_ = recordings();
        return std::make_unique<BackgroundHarness>(key, harnessCommand + " --mode rtmp --url rtmp://127.0.0.1:" +
                                                            std::to_string(relay_->port()) + "/live --key " + key +
                                                            " " + extra);
    }

    // Back live, and nginx recorded the stream again.
    void expectRecovered(const Finished& run)
    {
        expectBackLiveOnce(run, *relay_);
        EXPECT_EQ(recordings() - recordedBefore_, 2);
    }

    int recordings() const { return static_cast<int>(recordingsOf(env_.at("ONDALINE_RTMP_RECORD_DIR"), key_).size()); }

    std::map<std::string, std::string> env_;
    std::optional<FaultRelay> relay_;
    std::string key_;
    int recordedBefore_ = 0;
};

class IcecastFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        env_ = loadPeerEnv("icecast");
        ASSERT_FALSE(env_.empty()) << "the icecast peer is not running";
        relay_.emplace(portOf(env_, "ONDALINE_ICECAST_PORT"));
    }

    std::unique_ptr<BackgroundHarness> stream(const std::string& mount)
    {
        return std::make_unique<BackgroundHarness>(mount.substr(1),
                                                   harnessCommand + " --mode icecast --host 127.0.0.1 --port " +
                                                       std::to_string(relay_->port()) + " --mount " + mount +
                                                       " --password " +
                                                       shellQuote(env_.at("ONDALINE_ICECAST_SOURCE_PASSWORD")));
    }

    // Back live: icecast took the source again.
    void expectRecovered(const Finished& run)
    {
        expectBackLiveOnce(run, *relay_);
        EXPECT_EQ(occurrences(run.output, "Ondaline: ✓ Icecast connected! Starting audio stream."), 2) << run.output;
    }

    std::map<std::string, std::string> env_;
    std::optional<FaultRelay> relay_;
};

}  // namespace

// Every ping comes back 600 ms late: the slow-ping rule (three over 500 ms)
// calls for one reconnect after its 5-second pause, not the back-off.
TEST_F(RTMPFaults, SlowPingsLeadToOneDelayedReconnect)
{
    auto harness = stream("faults-slow");
    ASSERT_TRUE(harness->waitFor("delegate: connected"));
    relay_->setDelay(300ms);
    EXPECT_TRUE(harness->waitFor("delegate: error Stream unhealthy — reconnecting in 5s (1/3)…", 45s));
    relay_->setDelay(0ms);
    const Finished run = finish(*harness);
    expectRecovered(run);
    expectText(run, "ms) — switching to fast ping rate (3s)");
    expectText(run, "Ondaline: ⚠ HEALTH: 3 pings >500ms in 120s window [");
    EXPECT_EQ(occurrences(run.output, "Ondaline: ⚠ HEALTH: Executing delayed reconnect now"), 1) << run.output;
    EXPECT_EQ(run.output.find("Reconnecting ("), std::string::npos) << run.output;
}

// A link a third as wide as the stream (noise takes the whole 320 kbit/s):
// a ping waits behind the queue for seconds, and that late answer forces a
// fresh connection.
TEST_F(RTMPFaults, NarrowLinkMakesAPingLateEnoughToReconnect)
{
    auto harness = stream("faults-narrow", "--source noise");
    ASSERT_TRUE(harness->waitFor("delegate: connected"));
    relay_->setThrottle(14000);
    EXPECT_TRUE(harness->waitFor("delegate: error Stream unhealthy — reconnecting in 5s (1/3)…", 45s));
    relay_->setThrottle(FaultRelay::unlimited);
    const Finished run = finish(*harness);
    expectRecovered(run);
    expectText(run, "ms exceeds 2000ms — stream unhealthy");
    EXPECT_EQ(occurrences(run.output, "Ondaline: ⚠ HEALTH: Executing delayed reconnect now"), 1) << run.output;
}

// The link dies without a word. With noise at 1.7 Mbit/s (eight channels at
// 96 kHz) the unacknowledged bytes pass the server's window within the ack
// time-out, so the zombie is found in half a minute rather than in minutes;
// and the queue stays under its 8 MB limit until then.
TEST_F(RTMPFaults, DeadLinkIsFoundAndTheStreamMovesToANewConnection)
{
    auto harness = stream("faults-dead", "--channels 8 --rate 96000 --bitrate 1700000 --source noise");
    ASSERT_TRUE(harness->waitFor("delegate: connected"));
    const Finished run = stallUntilARetryIsDue(*harness, *relay_);
    expectRecovered(run);
    expectText(run, "— zombie connection detected");
    expectText(run, "Ondaline: Health monitor forcing reconnect — Server ack timeout (");
    expectText(run, "Ondaline: Reconnecting in 10s (attempt 1/10)…");
}

// Reset mid-stream, and the first retry turned away (10 s, then 15 s).
TEST_F(RTMPFaults, CutAndARefusedRetryThenLiveAgain)
{
    auto harness = stream("faults-cut");
    ASSERT_TRUE(harness->waitFor("delegate: connected"));
    const Finished run = cutAndRefuseOneRetry(*harness, *relay_);
    expectRecovered(run);
    expectTwoStepsOfTheBackOff(run, *relay_);
    // The reset reaches whichever of the engine's reading and sending meets
    // it first: on a busy machine, often a video frame on its way out.
    const bool told = run.output.find("Ondaline ERROR: Connection closed by server") != std::string::npos ||
                      run.output.find("Ondaline ERROR: Send failed: Connection reset by peer") != std::string::npos;
    EXPECT_TRUE(told) << run.output;
}

// One byte lost mid-stream leaves nginx reading chunk headers out of step; it
// hangs up, and the engine takes that as a lost connection.
TEST_F(RTMPFaults, ALostByteMakesTheServerHangUpAndTheEngineReconnects)
{
    auto harness = stream("faults-garbled");
    ASSERT_TRUE(harness->waitFor("delegate: connected"));
    relay_->dropBytes(1);
    const Finished run = finish(*harness);
    expectRecovered(run);
    expectText(run, "Ondaline ERROR: Connection closed by server");
    expectText(run, "delegate: error Reconnecting (1/10)…");
    EXPECT_EQ(relay_->counters().dropped, 1u);
}

// As over RTMP: a reset, a retry turned away, and icecast takes the source
// again on the second retry.
TEST_F(IcecastFaults, CutAndARefusedRetryThenLiveAgain)
{
    auto harness = stream("/faults-cut.aac");
    ASSERT_TRUE(harness->waitFor("delegate: connected"));
    const Finished run = cutAndRefuseOneRetry(*harness, *relay_);
    expectRecovered(run);
    expectTwoStepsOfTheBackOff(run, *relay_);
    expectText(run, "Ondaline: Icecast connection lost");
}

// The link dies without a word: nothing the server might say gets through,
// so the engine has to see for itself that its audio no longer leaves.
TEST_F(IcecastFaults, DeadLinkIsFoundAndTheSourceReconnects)
{
    auto harness = stream("/faults-dead.aac");
    ASSERT_TRUE(harness->waitFor("delegate: connected"));
    const Finished run = stallUntilARetryIsDue(*harness, *relay_);
    expectRecovered(run);
    expectText(run, "Ondaline ERROR: Icecast: connection stalled (nothing could be sent for 10s)");
    EXPECT_EQ(run.output.find("Icecast send error: cancelled"), std::string::npos) << run.output;
}
