// The playlist player end to end: FLAC files made here play through the
// harness (its output on the PulseAudio peer, or on the null output when no
// sound server answers) to nginx, in the order the player logged them.

#include "support/background_harness.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"
#include "support/run_folder.h"
#include "support/tone_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

using namespace ondaline::test;
namespace fs = std::filesystem;

namespace {

class Playlist : public ::testing::Test {
protected:
    void SetUp() override
    {
        rtmp_ = loadPeerEnv("rtmp");
        pulse_ = loadPeerEnv(soundPeer());
        ASSERT_FALSE(rtmp_.empty()) << "the rtmp peer is not running";
        ASSERT_FALSE(pulse_.empty()) << "the pulse peer is not running";
        fs::create_directories(music_);
    }
    void TearDown() override { fs::remove_all(music_); }

    void tone(const std::string& name, int rate, int channels, int hz, double seconds)
    {
        writeToneFLAC((music_ / name).string(), rate, channels, hz, seconds);
    }

    CommandResult stream(const std::string& key, const std::string& pulseServer, int seconds)
    {
        return runCommand("PULSE_SERVER=" + shellQuote(pulseServer) + " timeout 120 " + shellQuote(ONDALINE_HARNESS) +
                          " --mode rtmp --url " + rtmp_["ONDALINE_RTMP_URL"] + " --key " + key + " --seconds " +
                          std::to_string(seconds) + " --source playlist " + shellQuote(music_.string()));
    }

    // The files in the order the player started them.
    static std::vector<std::string> played(const std::string& output)
    {
        std::vector<std::string> files;
        const std::regex line(R"(TestPlayer: Playing \[\d+/\d+\] (\S+))");
        for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it) {
            files.push_back((*it)[1]);
        }
        return files;
    }

    std::map<std::string, std::string> rtmp_, pulse_;
    fs::path music_ = runFolder() / "playlist";
};

}  // namespace

TEST_F(Playlist, TracksPlayOncePerPassInTheLoggedOrderAtTheirPitch)
{
    tone("low.flac", 44100, 2, 440, 1.5);
    tone("high.flac", 48000, 1, 660, 1.5);
    {
        std::ofstream junk(music_ / "noise.flac", std::ios::binary);
        std::mt19937 random(7);
        for (int i = 0; i < 4096; ++i) junk.put(static_cast<char>(random()));
    }
    fs::create_directories(music_ / "folder.flac");

    const auto run = stream("tracks", pulse_["PULSE_SERVER"], 6);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("harness: player output sound server"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("TestPlayer: Found 4 FLAC files"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("TestPlayer: Cannot read noise.flac — skipping"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("TestPlayer: Cannot read folder.flac — skipping"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("harness: track "), std::string::npos) << run.output;

    // Two passes at least: each holds both playable files once.
    const auto files = played(run.output);
    ASSERT_GE(files.size(), 3u) << run.output;
    EXPECT_NE(files[0], files[1]);

    const std::string file = recordingOf(rtmp_["ONDALINE_RTMP_RECORD_DIR"], "tracks");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(decodeErrors(file), "");
    // The player's first audio comes a second after the stream began; the
    // wait is silence in place, so the sound stays level with the picture.
    EXPECT_LT(std::abs(avStartOffset(file)), kLevelWithThePictureMs);
    for (const double offset : avOffsetsAt(file, {1.5, 3, 4.5})) EXPECT_LT(std::abs(offset), kLevelWithThePictureMs);
    EXPECT_LE(audioStampsOffTheirFrames(file), 1.0);
    // Measured from where the music starts: before it, the engine stood in
    // its faint silence frames for the player's silence.
    const auto music = fromOnset(decodeFirstChannel(file));
    ASSERT_GT(music.size(), 44100u * 3);
    const auto pitchAt = [&](double from, double to) {
        return analyseTone({music.begin() + long(from * 44100), music.begin() + long(to * 44100)}, 44100, 0).hz;
    };
    const auto expected = [](const std::string& name) { return name == "low.flac" ? 440.0 : 660.0; };
    EXPECT_NEAR(pitchAt(0.2, 1.3), expected(files[0]), 1.0);
    EXPECT_NEAR(pitchAt(1.9, 2.9), expected(files[1]), 1.0);
}

// Without a sound server the null output feeds the engine at real time.
// The whole program held up for a moment, as on a busy machine, makes up
// what it owes: the music goes out whole, nothing put in front of it.
TEST_F(Playlist, WithoutASoundServerTheNullOutputStillFeedsTheStream)
{
    tone("only.flac", 44100, 2, 440, 10);
    BackgroundHarness harness("nullout",
                              "PULSE_SERVER=unix:/nonexistent/ondaline-no-server " + shellQuote(ONDALINE_HARNESS) +
                                  " --mode rtmp --url " + rtmp_["ONDALINE_RTMP_URL"] +
                                  " --key nullout --seconds 5 --source playlist " + shellQuote(music_.string()));
    ASSERT_TRUE(harness.waitFor("Ondaline: ✓ Publishing live!")) << harness.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_GT(harness.pid(), 0);
    ::kill(harness.pid(), SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(harness.pid(), SIGCONT);
    ASSERT_EQ(harness.finish(), 0) << harness.output();
    const std::string output = harness.output();
    EXPECT_NE(output.find("harness: player output null"), std::string::npos) << output;
    EXPECT_EQ(output.find("filled with silence"), std::string::npos) << output;
    const std::string file = recordingOf(rtmp_["ONDALINE_RTMP_RECORD_DIR"], "nullout");
    ASSERT_FALSE(file.empty());
    // Against how long sound went out: on a busy machine the harness hears
    // it went live late, so it streams longer than five seconds.
    EXPECT_NEAR(audioSpan(file), secondsLive(output, 5.0), kSoundingSpanTolerance) << output;
    // From where the music starts: a busy machine's player may begin it
    // past the half second left out, after the engine's faint silence.
    EXPECT_NEAR(analyseTone(fromOnset(decodeFirstChannel(file)), 44100).hz, 440.0, 1.0);
}
