// The sound server's output devices, on the PulseAudio peer.

#include "platform/audio/output_devices.h"

#include "support/process.h"
#include "support/pulse_peer.h"

#include <algorithm>
#include <atomic>

using namespace ondaline;
using platform::OutputDevice;
using platform::OutputDevices;

namespace {

class OutputDevicesPulse : public test::PulsePeerTest {
protected:
    void SetUp() override
    {
        PulsePeerTest::SetUp();
        std::string error;
        devices_ = OutputDevices::connect(error);
        ASSERT_NE(devices_, nullptr) << error;
    }
    void TearDown() override { test::runCommand("pactl set-sink-volume " + defaultSink_ + " 100%"); }

    bool listed(const std::string& uid)
    {
        const auto devices = devices_->list();
        return std::any_of(devices.begin(), devices.end(), [&](const OutputDevice& d) { return d.uid == uid; });
    }

    std::unique_ptr<OutputDevices> devices_;
};

}  // namespace

TEST_F(OutputDevicesPulse, ListsTheNullSinkAsTheDefault)
{
    const auto devices = devices_->list();
    const auto sink = std::find_if(devices.begin(), devices.end(),
                                   [&](const OutputDevice& d) { return d.uid == defaultSink_; });
    ASSERT_NE(sink, devices.end());
    EXPECT_EQ(sink->name, "Ondaline_Null");
    EXPECT_EQ(devices_->defaultDeviceUID(), defaultSink_);
}

TEST_F(OutputDevicesPulse, TellsOfDevicesAddedAndRemovedOnly)
{
    std::atomic<int> replacedCalls{0}, calls{0};
    devices_->setChangeListener([&] { ++replacedCalls; });
    devices_->setChangeListener([&] { ++calls; });

    pactl("set-sink-volume " + defaultSink_ + " 50%");
    {
        test::NullSink extra("extra_sink");
        ASSERT_TRUE(test::eventually([&] { return calls >= 1; }));
        EXPECT_TRUE(listed("extra_sink"));
        // The server reported the volume's change before the new device, on
        // the same connection: had it reached the listener it would show.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(calls, 1);
    }
    ASSERT_TRUE(test::eventually([&] { return calls >= 2; }));
    EXPECT_FALSE(listed("extra_sink"));
    EXPECT_EQ(replacedCalls, 0);

    devices_.reset();
    const int before = calls;
    {
        test::NullSink late("late_sink");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    EXPECT_EQ(calls, before) << "called after the destructor returned";
}
