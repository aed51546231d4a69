// What nginx recorded of the harness's audio: AAC LC in the configured
// format, the tone's pitch and level, and a timeline that runs at real time.

#include "support/background_harness.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"
#include "support/tone_analysis.h"

#include <gtest/gtest.h>

using namespace ondaline::test;

namespace {

constexpr double streamedSeconds = 6;

class RTMPAudio : public ::testing::Test {
protected:
    void SetUp() override
    {
        env_ = loadPeerEnv("rtmp");
        ASSERT_FALSE(env_.empty()) << "the rtmp peer is not running";
    }

    // Streams and returns the recording's path.
    std::string stream(const std::string& key, const std::string& options, std::string* output = nullptr)
    {
        const auto run = runCommand("timeout 120 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                    env_["ONDALINE_RTMP_URL"] + " --key " + key + " --seconds " +
                                    std::to_string(int(streamedSeconds)) + " " + options);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        if (output) *output = run.output;
        const std::string file = recordingOf(env_["ONDALINE_RTMP_RECORD_DIR"], key);
        if (file.empty()) ADD_FAILURE() << "nothing recorded for " << key;
        return file;
    }

    std::map<std::string, std::string> env_;
};

}  // namespace

TEST_F(RTMPAudio, ToneArrivesAsAACLCWithItsPitchLevelAndTiming)
{
    struct Format {
        int rate, channels;
    };
    for (const Format format : {Format{44100, 2}, Format{48000, 2}, Format{44100, 1}}) {
        const std::string key = "tone-" + std::to_string(format.rate) + "-" + std::to_string(format.channels);
        SCOPED_TRACE(key);
        std::string output;
        const std::string file = stream(key,
                                        "--source tone --tone-hz 440 --tone-dbfs -12 --rate " +
                                            std::to_string(format.rate) + " --channels " +
                                            std::to_string(format.channels),
                                        &output);
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(probeAudio(file, "stream=codec_name,profile,sample_rate,channels"),
                  "codec_name=aac\nprofile=LC\nsample_rate=" + std::to_string(format.rate) +
                      "\nchannels=" + std::to_string(format.channels) + "\n");
        EXPECT_EQ(decodeErrors(file), "");
        EXPECT_NEAR(audioSpan(file), secondsLive(output, streamedSeconds), kSoundingSpanTolerance);

        const Tone tone = analyseTone(decodeFirstChannel(file), format.rate);
        EXPECT_NEAR(tone.hz, 440.0, 1.0);
        EXPECT_NEAR(tone.peakDBFS, -12.0, 0.5);
    }
}

TEST_F(RTMPAudio, WithoutASourceTheCarrierKeepsTheTimelineMoving)
{
    std::string output;
    const std::string file = stream("carrier", "--source none", &output);
    ASSERT_FALSE(file.empty());
    EXPECT_NE(output.find("Ondaline: No audio for 1s — injecting 25Hz carrier"), std::string::npos) << output;
    // The carrier starts after one second without audio and runs at real
    // time; the second before it is silence in its place.
    EXPECT_NE(output.find("ms behind the stream clock — filled with silence"), std::string::npos) << output;
    // The carrier follows the silence; it is no audio resuming.
    EXPECT_EQ(output.find("Real audio resumed"), std::string::npos) << output;
    EXPECT_NEAR(audioSpan(file), streamedSeconds, 0.2);
    EXPECT_EQ(decodeErrors(file), "");
}
