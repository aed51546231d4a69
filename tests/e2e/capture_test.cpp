// Application capture end to end: a program plays a tone into the PulseAudio
// peer; the harness captures it and streams it to nginx.

#include "support/peer_env.h"
#include "support/process.h"
#include "support/pulse_peer.h"
#include "support/recording.h"
#include "support/tone_analysis.h"

#include <cmath>

using namespace ondaline::test;

namespace {

class CaptureStream : public PulsePeerTest {};

}  // namespace

TEST_F(CaptureStream, AProgramsToneIsStreamedAtItsPitchAndLevel)
{
    const auto rtmp = loadPeerEnv("rtmp");
    ASSERT_FALSE(rtmp.empty()) << "the rtmp peer is not running";
    PacatTone tone("Tone Maker", 440, 0.25f);
    PacatTone other("Noise Maker", 1000, 0.5f);  // on the same device, never to be heard
    ASSERT_TRUE(eventually([&] { return !sinkInputOf("Tone Maker").empty() && !sinkInputOf("Noise Maker").empty(); }));

    const auto run = runCommand("timeout 120 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                rtmp.at("ONDALINE_RTMP_URL") + " --key captured --seconds 5 --source capture " +
                                shellQuote("Tone Maker"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("AudioSourceCapture: ✅ Capture started for 'Tone Maker'"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Ondaline: ✅ Resampler ready — 48000Hz → 44100Hz"), std::string::npos) << run.output;

    const std::string file = recordingOf(rtmp.at("ONDALINE_RTMP_RECORD_DIR"), "captured");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(decodeErrors(file), "");
    // The capture starts a moment after the stream went live, and the sound
    // server may take a moment to get going: the steady last two seconds.
    const auto samples = decodeFirstChannel(file);
    ASSERT_GT(samples.size(), 44100u * 3);
    const Tone measured = analyseTone({samples.end() - 44100 * 23 / 10, samples.end()}, 44100, 0.15);
    EXPECT_NEAR(measured.hz, 440.0, 1.0);
    EXPECT_NEAR(measured.peakDBFS, 20 * std::log10(0.25), 0.5);
    // Each tenth alone, from where the sound starts: the other program let
    // through for a moment as the capture starts is heard there.
    EXPECT_EQ(whereHeard(fromOnset(samples), 44100, 1000, 20 * std::log10(0.25) - 2), "");
}
