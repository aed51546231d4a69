// What nginx recorded of the harness's audio: AAC LC in the configured
// format, the tone's pitch and level, and a timeline that runs at real time.

#include "support/peer_env.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

using namespace ondaline::test;
namespace fs = std::filesystem;

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
        for (const auto& entry : fs::directory_iterator(env_["ONDALINE_RTMP_RECORD_DIR"])) {
            if (entry.path().filename().string().starts_with(key + "-")) return entry.path();
        }
        ADD_FAILURE() << "nothing recorded for " << key;
        return {};
    }

    static std::string probe(const std::string& file, const std::string& entries)
    {
        return runCommand("ffprobe -v error -select_streams a:0 -show_entries " + entries +
                          " -of default=noprint_wrappers=1 " + shellQuote(file))
            .output;
    }

    static double duration(const std::string& file)
    {
        const auto text = runCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + shellQuote(file));
        return std::atof(text.output.c_str());
    }

    // The first channel, decoded to 32-bit float.
    static std::vector<float> decode(const std::string& file)
    {
        std::vector<float> samples;
        FILE* pipe = popen(("ffmpeg -v error -i " + shellQuote(file) + " -af 'pan=mono|c0=c0' -f f32le -").c_str(), "r");
        if (!pipe) return samples;
        float buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, sizeof(float), 4096, pipe)) > 0) samples.insert(samples.end(), buffer, buffer + n);
        pclose(pipe);
        return samples;
    }

    std::map<std::string, std::string> env_;
};

struct Tone {
    double hz;
    double peakDBFS;
};

// Pitch from the rising zero crossings and level from the RMS (as the peak
// of a sine), over the steady middle of the recording.
Tone analyse(const std::vector<float>& samples, double rate)
{
    const auto begin = static_cast<std::size_t>(rate * 0.5), end = samples.size() - static_cast<std::size_t>(rate * 0.5);
    int crossings = 0;
    std::size_t first = 0, last = 0;
    double sumSquares = 0;
    for (std::size_t i = begin; i < end; ++i) {
        sumSquares += double(samples[i]) * samples[i];
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (crossings++ == 0) first = i;
            last = i;
        }
    }
    const double rms = std::sqrt(sumSquares / double(end - begin));
    return {(crossings - 1) / (double(last - first) / rate), 20 * std::log10(rms * std::sqrt(2.0))};
}

}  // namespace

TEST_F(RTMPAudio, ToneArrivesAsAACLCWithItsPitchLevelAndTiming)
{
    struct Format {
        int rate, channels;
    };
    for (const Format format : {Format{44100, 2}, Format{48000, 2}, Format{44100, 1}}) {
        const std::string key = "tone-" + std::to_string(format.rate) + "-" + std::to_string(format.channels);
        SCOPED_TRACE(key);
        const std::string file = stream(key, "--source tone --tone-hz 440 --tone-dbfs -12 --rate " +
                                                 std::to_string(format.rate) + " --channels " +
                                                 std::to_string(format.channels));
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(probe(file, "stream=codec_name,profile,sample_rate,channels"),
                  "codec_name=aac\nprofile=LC\nsample_rate=" + std::to_string(format.rate) +
                      "\nchannels=" + std::to_string(format.channels) + "\n");
        EXPECT_EQ(runCommand("ffmpeg -v error -i " + shellQuote(file) + " -f null -").output, "");
        EXPECT_NEAR(duration(file), streamedSeconds, streamedSeconds * 0.02);

        const Tone tone = analyse(decode(file), format.rate);
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
    // The carrier starts after one second without audio and runs at real time.
    EXPECT_NEAR(duration(file), streamedSeconds - 1.0, 0.2);
    EXPECT_EQ(runCommand("ffmpeg -v error -i " + shellQuote(file) + " -f null -").output, "");
}
