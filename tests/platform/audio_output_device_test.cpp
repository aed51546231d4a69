// The output takes its device before it starts (another source runs then),
// on the PulseAudio peer.

#include "platform/audio/audio_output.h"

#include "support/peer_env.h"
#include "support/process.h"
#include "support/pulse_peer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>

using namespace ondaline;
using platform::AudioOutput;

namespace {

constexpr const char* appName = "Ondaline output device test";

class AudioOutputDevice : public test::PulsePeerTest {};

void silence(float* left, float* right, std::size_t frames)
{
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
}

}  // namespace

TEST_F(AudioOutputDevice, OpensItsStreamOnTheDeviceChosenBeforeStart)
{
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

// The sound server killed and started again under a playing output (a
// crash, an upgrade), on a server of the test's own: the output keeps its
// pace meanwhile and plays on the server again once it is back.
TEST_F(AudioOutputDevice, PlaysOnTheServerAgainOnceItIsBack)
{
    std::string folder = (std::filesystem::temp_directory_path() / "ondaline-sound-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string script = std::string(ONDALINE_SOURCE_DIR) + "/scripts/peers/" + test::soundPeer() + " ";
    const std::string peer = test::shellQuote(folder);
    ASSERT_EQ(test::runCommand(script + "start " + peer).exitCode, 0);
    setenv("PULSE_SERVER", test::loadPeerEnvFrom(folder, test::soundPeer()).at("PULSE_SERVER").c_str(), 1);
    {
        std::atomic<int> lost{0}, back{0};
        std::atomic<std::size_t> blocks{0};
        AudioOutput output(silence, [&](const platform::AudioBlock&) { ++blocks; },
                           {.useSoundServer = true, .applicationName = appName});
        output.setServerListener([&](bool playing) { ++(playing ? back : lost); });
        std::string error;
        ASSERT_TRUE(output.start(error)) << error;
        ASSERT_EQ(output.kind(), AudioOutput::Kind::soundServer) << output.nullReason();

        ASSERT_EQ(test::runCommand(script + "restart " + peer).exitCode, 0);
        ASSERT_TRUE(test::eventually([&] { return back > 0; }, std::chrono::seconds(15)));
        EXPECT_EQ(lost, 1);
        EXPECT_EQ(output.kind(), AudioOutput::Kind::soundServer);
        EXPECT_FALSE(sinkInputOf(appName).empty());
        const std::size_t before = blocks;
        EXPECT_TRUE(test::eventually([&] { return blocks > before + 10; })) << "the tap's pace goes on";
    }
    test::runCommand(script + "stop " + peer);
    std::filesystem::remove_all(folder);
}
