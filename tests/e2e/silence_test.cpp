// Digital silence is programme: it goes out as a continuous audio track, to
// nginx as to icecast2, so no server drops a quiet source and a listener
// hears a pause at its own length.

#include "support/background_harness.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"
#include "support/run_folder.h"
#include "support/tone_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace ondaline::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class Silence : public ::testing::Test {
protected:
    void SetUp() override
    {
        rtmp_ = loadPeerEnv("rtmp");
        icecast_ = loadPeerEnv("icecast");
        ASSERT_FALSE(rtmp_.empty()) << "the rtmp peer is not running";
        ASSERT_FALSE(icecast_.empty()) << "the icecast peer is not running";
    }

    std::unique_ptr<BackgroundHarness> icecastSource(const std::string& mount, const std::string& extra, int seconds)
    {
        return std::make_unique<BackgroundHarness>(
            "silence" + mount.substr(1), "timeout 120 " + shellQuote(ONDALINE_HARNESS) +
                                             " --mode icecast --host 127.0.0.1 --port " +
                                             icecast_["ONDALINE_ICECAST_PORT"] + " --mount " + mount + " --password " +
                                             shellQuote(icecast_["ONDALINE_ICECAST_SOURCE_PASSWORD"]) + " --seconds " +
                                             std::to_string(seconds) + " --source tone " + extra);
    }

    // A listener on `mount` that writes what it receives to `file` until the
    // source ends; started once the source is up.
    std::thread listen(const std::string& mount, const std::string& file)
    {
        return std::thread([this, mount, file] {
            runCommand("timeout 60 curl -s -o " + shellQuote(file) +
                       " http://127.0.0.1:" + icecast_["ONDALINE_ICECAST_PORT"] + mount);
        });
    }

    std::map<std::string, std::string> rtmp_, icecast_;
};

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST_F(Silence, RTMPAudioTrackHasAPacketForEvery1024FramesOfASilentRun)
{
    constexpr int seconds = 20;
    const auto run = runCommand("timeout 120 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                rtmp_["ONDALINE_RTMP_URL"] + " --key silent --seconds " + std::to_string(seconds) +
                                " --source tone --tone-dbfs -200");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Ondaline: 🔇 Silence cap reached (10 frames sent) — silence goes on being sent"),
              std::string::npos)
        << run.output;

    const std::string file = recordingOf(rtmp_["ONDALINE_RTMP_RECORD_DIR"], "silent");
    ASSERT_FALSE(file.empty());
    const auto times = audioPacketTimes(file);
    ASSERT_FALSE(times.empty());
    long widestStep = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        ASSERT_GE(times[i], times[i - 1]) << i;
        widestStep = std::max(widestStep, times[i] - times[i - 1]);
    }
    EXPECT_LE(widestStep, 24);  // 1024 frames are 23.2 ms: no holes
    EXPECT_NEAR(double(times.back() - times.front()), seconds * 1000.0, 400);
    EXPECT_NEAR(double(times.size()), seconds * 44100.0 / 1024, 20);
    EXPECT_EQ(decodeErrors(file), "");
}

TEST_F(Silence, IcecastKeepsASilentSourceAndItsListenerGetsASteadyStream)
{
    constexpr int seconds = 20;
    const std::string mount = "/silent.aac";
    const fs::path heard = runFolder() / "silent.aac";
    auto source = icecastSource(mount, "--tone-dbfs -200", seconds);
    ASSERT_TRUE(source->waitFor("delegate: connected"));
    std::this_thread::sleep_for(500ms);
    std::thread listener = listen(mount, heard);

    // Sampled once a second: every second brings bytes.
    std::vector<std::uintmax_t> sizes;
    for (int i = 0; i < seconds - 3; ++i) {
        std::this_thread::sleep_for(1s);
        sizes.push_back(fs::exists(heard) ? fs::file_size(heard) : 0);
    }
    const int exitCode = source->finish();
    listener.join();
    EXPECT_EQ(exitCode, 0) << source->output();
    EXPECT_EQ(source->output().find("Icecast connection lost"), std::string::npos) << source->output();
    for (std::size_t i = 1; i < sizes.size(); ++i) EXPECT_GT(sizes[i], sizes[i - 1]) << "second " << i;

    const std::string errors = readFile(fs::path(icecast_["ONDALINE_ICECAST_LOG_DIR"]) / "error.log");
    // The server's log is shared with the other tests: a timeout counts when
    // the source it ends is this one.
    std::istringstream lines(errors);
    bool timedOut = false;
    for (std::string line, previous; std::getline(lines, line); previous = line)
        timedOut |= previous.find("Disconnecting source due to socket timeout") != std::string::npos &&
                    line.find("at \"" + mount + "\" exiting") != std::string::npos;
    EXPECT_FALSE(timedOut) << errors;
    // What the listener got decodes to the time it listened, silence and all.
    const auto samples = decodeFirstChannel(heard);
    EXPECT_GT(double(samples.size()) / 44100, seconds - 4);
    fs::remove(heard);
}

TEST_F(Silence, IcecastListenerHearsAPauseAtItsOwnLength)
{
    const std::string mount = "/pause.aac";
    const fs::path heard = runFolder() / "pause.aac";
    auto source = icecastSource(mount, "--tone-dbfs -12 --tone-gap 3,4", 10);
    ASSERT_TRUE(source->waitFor("delegate: connected"));
    std::this_thread::sleep_for(500ms);
    std::thread listener = listen(mount, heard);
    const int exitCode = source->finish();
    listener.join();
    EXPECT_EQ(exitCode, 0) << source->output();

    // The longest quiet stretch that the tone ends.
    const auto samples = decodeFirstChannel(heard);
    std::size_t longest = 0, quiet = 0;
    for (const float sample : samples) {
        if (std::fabs(sample) < 0.01f) {
            ++quiet;
            continue;
        }
        longest = std::max(longest, quiet);
        quiet = 0;
    }
    EXPECT_NEAR(double(longest) / 44100, 4.0, 0.1);
    fs::remove(heard);
}
