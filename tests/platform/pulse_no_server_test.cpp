// Without a sound server every piece gives up soon, with a reason.

#include "platform/audio/application_audio.h"
#include "platform/audio/output_devices.h"
#include "platform/audio/pulse_playback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

using namespace ondaline::platform;
using Clock = std::chrono::steady_clock;

namespace {

class NoSoundServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* server = std::getenv("PULSE_SERVER")) saved_ = server;
        setenv("PULSE_SERVER", "unix:/nonexistent/ondaline/pulse/native", 1);
        started_ = Clock::now();
    }
    void TearDown() override
    {
        EXPECT_LT(Clock::now() - started_, std::chrono::seconds(3));
        if (saved_) setenv("PULSE_SERVER", saved_->c_str(), 1);
        else unsetenv("PULSE_SERVER");
    }

    std::optional<std::string> saved_;
    Clock::time_point started_;
};

}  // namespace

TEST_F(NoSoundServer, PlaybackDoesNotOpen)
{
    std::string error;
    EXPECT_EQ(PulsePlayback::open("Ondaline test", error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST_F(NoSoundServer, OutputDevicesDoNotConnect)
{
    std::string error;
    EXPECT_EQ(OutputDevices::connect(error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST_F(NoSoundServer, NoApplicationIsListedOrCaptured)
{
    std::string error;
    EXPECT_TRUE(listPlayingApplications(error).empty());
    EXPECT_FALSE(error.empty());

    error.clear();
    PlayingApplication application{1234, "Somebody", "somebody", {7}, {}};
    EXPECT_EQ(ApplicationAudioCapture::start(application, {}, nullptr, nullptr, error), nullptr);
    EXPECT_FALSE(error.empty());
}
