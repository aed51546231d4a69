// Playing on the PulseAudio peer: pace, moves between devices, volume and
// interruption.

#include "platform/audio/pulse_playback.h"

#include "support/pulse_peer.h"

#include <chrono>
#include <cmath>
#include <future>
#include <numbers>
#include <vector>

using namespace ondaline;
using platform::PulsePlayback;
using namespace std::chrono_literals;

namespace {

constexpr const char* appName = "Ondaline playback test";
constexpr std::size_t rate = 44100;

std::vector<float> tone(double hz, std::size_t frames)
{
    std::vector<float> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] =
            0.25f * static_cast<float>(std::sin(2 * std::numbers::pi * hz * double(i) / rate));
    return samples;
}

class PulsePlaybackTest : public test::PulsePeerTest {
protected:
    void SetUp() override
    {
        PulsePeerTest::SetUp();
        std::string error;
        playback_ = PulsePlayback::open(appName, error);
        ASSERT_NE(playback_, nullptr) << error;
    }

    bool playsOn(const std::string& sink) { return sinkNameOf(sinkInputOf(appName)) == sink; }

    std::unique_ptr<PulsePlayback> playback_;
};

}  // namespace

TEST_F(PulsePlaybackTest, WritesAtTheDevicesPaceAsAStreamOfTheServer)
{
    const auto second = tone(440, rate);
    const auto started = std::chrono::steady_clock::now();
    for (std::size_t frame = 0; frame < rate; frame += rate / 100)
        ASSERT_TRUE(playback_->write(second.data() + 2 * frame, rate / 100));
    // A second cannot be taken much faster than it plays: write() waited.
    EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms);

    EXPECT_TRUE(playsOn(defaultSink_)) << pactl("list sink-inputs");
    EXPECT_EQ(playback_->deviceUID(), defaultSink_);
}

TEST_F(PulsePlaybackTest, MovesToADeviceByUIDAndBackToTheDefault)
{
    test::NullSink second("second_sink");
    const auto block = tone(440, rate / 10);
    ASSERT_TRUE(playback_->write(block.data(), rate / 10));

    std::string error;
    ASSERT_TRUE(playback_->moveToDevice("second_sink", error)) << error;
    EXPECT_EQ(playback_->deviceUID(), "second_sink");
    EXPECT_TRUE(playsOn("second_sink"));
    EXPECT_TRUE(playback_->write(block.data(), rate / 10));

    ASSERT_TRUE(playback_->moveToDevice("", error)) << error;
    EXPECT_EQ(playback_->deviceUID(), defaultSink_);
    EXPECT_TRUE(playsOn(defaultSink_));

    EXPECT_FALSE(playback_->moveToDevice("no_such_sink", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(playback_->deviceUID(), defaultSink_);
}

TEST_F(PulsePlaybackTest, VolumeReachesTheStream)
{
    playback_->setVolume(0);
    EXPECT_TRUE(test::eventually([&] { return sinkInputOf(appName).find("front-left: 0 /") != std::string::npos; }))
        << sinkInputOf(appName);
    playback_->setVolume(1);
    EXPECT_TRUE(test::eventually([&] {
        return sinkInputOf(appName).find("front-left: 65536 / 100%") != std::string::npos;
    })) << sinkInputOf(appName);
}

TEST_F(PulsePlaybackTest, InterruptReleasesAWaitingWrite)
{
    const auto tenSeconds = tone(440, 10 * rate);
    auto written = std::async(std::launch::async, [&] { return playback_->write(tenSeconds.data(), 10 * rate); });
    ASSERT_EQ(written.wait_for(300ms), std::future_status::timeout) << "write() did not wait";

    playback_->interrupt();
    ASSERT_EQ(written.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(written.get());
    EXPECT_FALSE(playback_->write(tenSeconds.data(), 10)) << "interrupted for good";
}
