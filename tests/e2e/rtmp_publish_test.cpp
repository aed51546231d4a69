// The harness publishing to nginx-rtmp, directly and through TLS.

#include "support/background_harness.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"
#include "support/stalled_reader.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <unistd.h>

using namespace ondaline::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class RTMPPublish : public ::testing::Test {
protected:
    void SetUp() override
    {
        env_ = loadPeerEnv("rtmp");
        ASSERT_FALSE(env_.empty()) << "the rtmp peer is not running";
    }

    CommandResult harness(const std::string& arguments, const std::string& environment = "")
    {
        return runCommand(environment + " timeout 120 " + shellQuote(ONDALINE_HARNESS) + " " + arguments);
    }

    std::string trustTestCA() { return "SSL_CERT_FILE=" + shellQuote(env_["ONDALINE_TEST_CA"]); }

    bool recorded(const std::string& key) { return !recordingOf(env_["ONDALINE_RTMP_RECORD_DIR"], key).empty(); }

    // How often nginx logged the client deleting its stream.
    int deletedStreams()
    {
        std::ifstream log(env_["ONDALINE_RTMP_LOG"]);
        int count = 0;
        for (std::string line; std::getline(log, line);) {
            if (line.find("deleteStream") != std::string::npos) ++count;
        }
        return count;
    }

    std::map<std::string, std::string> env_;
};

}  // namespace

TEST_F(RTMPPublish, GoesLiveOnNginxAndEndsTheStreamInOrder)
{
    const int deletedBefore = deletedStreams();
    for (const char* source : {"none", "tone"}) {
        const std::string key = std::string("publish-") + source;
        const auto run = harness("--mode rtmp --url " + env_["ONDALINE_RTMP_URL"] + " --key " + key +
                                 " --seconds 2 --source " + source);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find("delegate: connected"), std::string::npos);
        EXPECT_NE(run.output.find("delegate: disconnected"), std::string::npos);
        EXPECT_NE(run.output.find("Ondaline: ✓ Publishing live!"), std::string::npos);
        EXPECT_TRUE(recorded(key)) << key;
    }
    EXPECT_GE(deletedStreams(), deletedBefore + 2);
}

// Stations pipe the log into another program. When that one exits, the
// stream goes on to its end and the harness ends as it would have.
TEST_F(RTMPPublish, StreamOutlivesTheReaderOfItsLog)
{
    const double seconds = 6;
    const std::string pipeline = "timeout 60 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                 env_["ONDALINE_RTMP_URL"] + " --key log-reader-gone --source tone --seconds " +
                                 std::to_string(static_cast<int>(seconds)) +
                                 " | head -n 5 >/dev/null; exit ${PIPESTATUS[0]}";
    const auto run = runCommand("bash -c " + shellQuote(pipeline));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const std::string file = recordingOf(env_["ONDALINE_RTMP_RECORD_DIR"], "log-reader-gone");
    ASSERT_FALSE(file.empty());
    EXPECT_GT(audioSpan(file), seconds - 0.5);
}

// Readers that stay but stop reading: a terminal paused with Ctrl+S soon
// after the start, and a pipe that is full and never read. The stream runs
// its whole length and the harness ends on time.
TEST_F(RTMPPublish, StreamOutlivesAReaderThatStopsReading)
{
    const int seconds = 8;
    Terminal terminal;
    FullPipe pipe;
    ASSERT_TRUE(terminal.opened() && pipe.opened());
    auto publish = [&](const std::string& key, const std::string& output) {
        return std::async(std::launch::async, [=, this] {
            const auto started = std::chrono::steady_clock::now();
            const auto run = runCommand("timeout 60 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                        env_["ONDALINE_RTMP_URL"] + " --key " + key + " --source tone --seconds " +
                                        std::to_string(seconds) + " >" + shellQuote(output) + " 2>&1");
            return std::pair(run.exitCode, std::chrono::steady_clock::now() - started);
        });
    };
    auto paused = publish("terminal-paused", terminal.path());
    auto full = publish("pipe-full", pipe.path());
    std::this_thread::sleep_for(300ms);
    terminal.pressCtrlS();

    for (auto* run : {&paused, &full}) {
        const auto [exitCode, took] = run->get();
        EXPECT_EQ(exitCode, 0);
        // Going live takes a few seconds; a harness held up by its output
        // never ends before `timeout` ends it.
        EXPECT_LT(took, std::chrono::seconds(seconds + 25));
    }
    for (const char* key : {"terminal-paused", "pipe-full"}) {
        const std::string file = recordingOf(env_["ONDALINE_RTMP_RECORD_DIR"], key);
        ASSERT_FALSE(file.empty()) << key;
        EXPECT_GT(audioSpan(file), seconds - 0.5) << key;
    }
}

// Started by a launcher that closed its output and error, and under nohup,
// which leaves a hang-up ignored: the stream runs its whole length, and no
// connection took the numbers of the closed streams. Beside it, a run whose
// terminal closes: the stream is ended in order.
TEST_F(RTMPPublish, StreamsWithoutOutputOrErrorAndEndsInOrderOnAHangUp)
{
    const int seconds = 4;
    // Keys of this run's own: the recording's start tells that the stream is live.
    const std::string run = std::to_string(::getpid());
    const std::string publish = shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " + env_["ONDALINE_RTMP_URL"] +
                                " --source tone --seconds ";
    BackgroundHarness closed("streams-closed", "nohup " + publish + std::to_string(seconds) + " --key streams-closed-" +
                                                   run + " >&- 2>&-");
    BackgroundHarness hungUp("hung-up", publish + "20 --key hung-up-" + run);

    std::string file;
    for (int i = 0; i < 300 && file.empty(); ++i) {
        file = recordingOf(env_["ONDALINE_RTMP_RECORD_DIR"], "streams-closed-" + run);
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(file.empty());
    const pid_t closedPid = closed.pid(), hungUpPid = hungUp.pid();
    ASSERT_TRUE(closedPid > 0 && hungUpPid > 0);
    for (const char* fd : {"1", "2"}) {
        std::error_code unreadable;
        EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(closedPid) + "/fd/" + fd, unreadable), "/dev/null") << fd;
    }
    ::kill(closedPid, SIGHUP);

    ASSERT_TRUE(hungUp.waitFor("delegate: connected", 30s)) << hungUp.output();
    std::this_thread::sleep_for(2s);
    ::kill(hungUpPid, SIGHUP);
    EXPECT_EQ(hungUp.finish(), 0) << hungUp.output();
    EXPECT_NE(hungUp.output().find("harness: hung up, ending the stream"), std::string::npos) << hungUp.output();
    EXPECT_NE(hungUp.output().find("harness: stream went live and ended in order"), std::string::npos);
    const std::string ended = recordingOf(env_["ONDALINE_RTMP_RECORD_DIR"], "hung-up-" + run);
    ASSERT_FALSE(ended.empty());
    EXPECT_EQ(decodeErrors(ended), "");
    EXPECT_GT(audioSpan(ended), 1.5);

    EXPECT_EQ(closed.finish(), 0);
    EXPECT_GT(audioSpan(file), seconds - 0.5);
}

TEST_F(RTMPPublish, GoesLiveThroughTLS)
{
    const auto run = harness("--mode youtube --url " + env_["ONDALINE_RTMPS_URL"] + " --key tls-live --seconds 2",
                             trustTestCA());
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("tls=true"), std::string::npos);
    EXPECT_TRUE(recorded("tls-live"));
}

TEST_F(RTMPPublish, UntrustedServerIsRefusedAndReceivesNothing)
{
    const auto run = harness("--mode rtmp --url " + env_["ONDALINE_RTMPS_URL"] + " --key untrusted --seconds 2");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("delegate: error Connection failed: TLS certificate not trusted: "
                              "unable to get local issuer certificate"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("Handshake complete"), std::string::npos);
    EXPECT_FALSE(recorded("untrusted"));
}

TEST_F(RTMPPublish, TLSToThePlainPortTimesOutOnceWithoutARetry)
{
    // nginx-rtmp takes the TLS greeting for the start of an RTMP handshake
    // and waits for the rest of it, so the TLS handshake never ends.
    const std::string address = "127.0.0.1:" + env_["ONDALINE_RTMP_PORT"];
    BackgroundHarness harness("tls-to-plain", "timeout 60 " + shellQuote(ONDALINE_HARNESS) +
                                                  " --mode rtmp --url rtmps://" + address + "/live --key tls-to-plain");
    ASSERT_TRUE(harness.waitFor("Ondaline: Connecting to " + address, 30s));
    EXPECT_TRUE(harness.waitFor("delegate: error Connection timed out after 10 s", 12s));
    EXPECT_EQ(harness.finish(), 1);

    const std::string output = harness.output();
    EXPECT_EQ(occurrences(output, "delegate: error "), 1) << output;
    EXPECT_EQ(occurrences(output, "delegate: error Connection timed out after 10 s (" + address +
                                      ") — the port may not speak TLS"),
              1)
        << output;
    // A state notice reads the state when it runs, so the delegate may see
    // Error already as Idle; the engine's own log has both.
    const auto error = output.find("Ondaline: State → Error");
    ASSERT_NE(error, std::string::npos) << output;
    EXPECT_NE(output.find("delegate: state Idle", error), std::string::npos) << output;
    EXPECT_EQ(occurrences(output, "Ondaline: Connecting to"), 1) << output;
    EXPECT_EQ(output.find("Reconnecting"), std::string::npos) << output;
    EXPECT_FALSE(recorded("tls-to-plain"));
}

// A stream key already publishing is refused by nginx with BadName: the
// user hears why at once, not a negotiation time-out 15 s later.
TEST_F(RTMPPublish, KeyAlreadyInUseIsReportedAtOnce)
{
    const std::string arguments = "--mode rtmp --url " + env_["ONDALINE_RTMP_URL"] +
                                  " --key taken --source tone --seconds ";
    BackgroundHarness first("taken-first", shellQuote(ONDALINE_HARNESS) + " " + arguments + "12");
    ASSERT_TRUE(first.waitFor("Ondaline: ✓ Publishing live!", 20s)) << first.output();
    BackgroundHarness second("taken-second", shellQuote(ONDALINE_HARNESS) + " " + arguments + "4");
    EXPECT_TRUE(second.waitFor("delegate: error Publish failed: NetStream.Publish.BadName — Already publishing "
                               "(the stream key is rejected or already in use)",
                               3s))
        << second.output();
    second.finish();
    EXPECT_EQ(occurrences(second.output(), "RTMP negotiation timed out"), 0) << second.output();
    EXPECT_EQ(first.finish(), 0) << first.output();
}
