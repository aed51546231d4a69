// The output takes its device before it starts (another source runs then),
// on the PulseAudio peer.

#include "platform/audio/audio_output.h"

#include "support/pulse_peer.h"

#include <algorithm>

using namespace ondaline;
using platform::AudioOutput;

namespace {

constexpr const char* appName = "Ondaline output device test";

class AudioOutputDevice : public test::PulsePeerTest {};

}  // namespace

TEST_F(AudioOutputDevice, OpensItsStreamOnTheDeviceChosenBeforeStart)
{
    const auto silence = [](float* left, float* right, std::size_t frames) {
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
    };
    AudioOutput output(silence, nullptr, {.useSoundServer = true, .applicationName = appName});
    std::string error;
    {
        test::NullSink gone("output_gone_sink");
        ASSERT_TRUE(output.moveToDevice("output_gone_sink", error)) << error;
    }
    ASSERT_TRUE(output.start(error)) << error;
    ASSERT_EQ(output.kind(), AudioOutput::Kind::soundServer) << output.nullReason();
    EXPECT_EQ(sinkNameOf(sinkInputOf(appName)), defaultSink_) << "gone by the start: the default plays";

    test::NullSink chosen("output_chosen_sink");
    output.stop();
    ASSERT_TRUE(output.moveToDevice("output_chosen_sink", error)) << error;
    ASSERT_TRUE(output.start(error)) << error;
    EXPECT_EQ(sinkNameOf(sinkInputOf(appName)), "output_chosen_sink");
    EXPECT_EQ(output.deviceUID(), "output_chosen_sink");
}
