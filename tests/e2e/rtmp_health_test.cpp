// Health watching against nginx-rtmp: pings, reports, no false alarms, and a
// server that goes away and comes back.

#include "support/background_harness.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"
#include "support/run_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

using namespace std::chrono_literals;
using namespace ondaline::test;
namespace fs = std::filesystem;

namespace {

CommandResult harness(const std::map<std::string, std::string>& env, const std::string& key, int seconds)
{
    return runCommand("timeout 400 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                      env.at("ONDALINE_RTMP_URL") + " --key " + key + " --source tone --seconds " +
                      std::to_string(seconds));
}

int recordings(const std::map<std::string, std::string>& env, const std::string& key)
{
    return static_cast<int>(recordingsOf(env.at("ONDALINE_RTMP_RECORD_DIR"), key).size());
}

void expectHealthyRun(const CommandResult& run)
{
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Ondaline: Sent Ping Request (seq=1)"), std::string::npos);
    EXPECT_NE(run.output.find("Ondaline: Ping Response received (seq=1, latency="), std::string::npos);
    EXPECT_NE(run.output.find("Ondaline: 📊 THROUGHPUT ["), std::string::npos);
    EXPECT_NE(run.output.find("Ondaline: 🔍 AUDIO PIPE — tapDeliveries="), std::string::npos);
    EXPECT_EQ(run.output.find("zombie"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Reconnecting"), std::string::npos);
}

}  // namespace

TEST(RTMPHealth, PingsAreAnsweredAndReportsWrittenWithoutFalseAlarms)
{
    const auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    expectHealthyRun(harness(env, "health", 35));
}

TEST(RTMPHealth, ThreeMinutesOfAudioWithoutAFalseZombie)
{
    const auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    const auto run = harness(env, "long-health", 180);
    expectHealthyRun(run);
    EXPECT_GE(occurrences(run.output, "Ondaline: 📊 THROUGHPUT ["), 5);
}

TEST(RTMPHealth, ServerThatGoesAwayAndComesBackGetsTheStreamAgain)
{
    // A server of this test's own, stopped and started again on its ports.
    const std::string peerDir = runFile("rtmp-away");
    const std::string script = shellQuote(std::string(ONDALINE_SOURCE_DIR) + "/scripts/peers/rtmp");
    ASSERT_EQ(runCommand(script + " start " + shellQuote(peerDir)).exitCode, 0);
    const auto env = loadPeerEnvFrom(peerDir, "rtmp");
    auto source = std::async(std::launch::async, [&] { return harness(env, "away", 30); });
    std::this_thread::sleep_for(4s);
    EXPECT_EQ(runCommand(script + " pause " + shellQuote(peerDir)).exitCode, 0);  // SIGTERM to nginx
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(runCommand(script + " resume " + shellQuote(peerDir)).exitCode, 0);
    const auto run = source.get();
    const int files = recordings(env, "away");
    runCommand(script + " stop " + shellQuote(peerDir));
    fs::remove_all(peerDir);

    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("delegate: error Reconnecting (1/10)…"), std::string::npos) << run.output;
    EXPECT_EQ(occurrences(run.output, "delegate: connected"), 2) << run.output;
    EXPECT_EQ(occurrences(run.output, "Ondaline: Attempting reconnect #1"), 1);
    EXPECT_EQ(files, 2);  // a new recording for the stream that came back
}
