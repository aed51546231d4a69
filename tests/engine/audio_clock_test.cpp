// The engine's audio against the stream clock, which here stands still until
// a test moves it: how far audio may run ahead of it, and when silence makes
// up audio that falls short of it.

#include "engine/ondaline.h"

#include "support/log_capture.h"
#include "support/recording_delegate.h"
#include "support/scripted_rtmp_server.h"
#include "support/tcp_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <latch>
#include <thread>

using namespace ondaline;

namespace {

class AudioClock : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine_->setDelegate(delegate_);
        engine_->configure("rtmp://127.0.0.1:" + std::to_string(peer_.port()) + "/live", "key");
        for (std::size_t i = 0; i < tone_.size(); ++i) tone_[i] = 0.3f * std::sin(float(i) * 0.0627f);
    }
    void TearDown() override { engine_->disconnect(); }

    void goLive()
    {
        engine_->connect();
        waitUntilLive();
    }
    void waitUntilLive()
    {
        ASSERT_TRUE(delegate_->waitFor("connect"));
        // The report may come before the network queue has sent the
        // sequence headers: PCM waits for them, so the first feed must too.
        engine_->networkQueue().sync([] {});
        engine_->encoderQueue().sync([] {});  // the drain the sequence header brought
    }

    // Hands over `frames` of a tone at the stream's rate and, unless told
    // not to, waits for the drain that follows.
    void feed(std::uint32_t frames, bool wait = true)
    {
        const float* planes[] = {tone_.data(), tone_.data()};
        engine_->sendAudioBuffer({planes, 2, frames, 0});
        if (wait) engine_->encoderQueue().sync([] {});
    }

    std::vector<float> tone_ = std::vector<float>(22050);
    test::TCPPeer peer_{[](int s) {
        test::ScriptedRTMPServer server(s);
        if (server.acceptPublish()) server.readUntilClosed();
    }};
    std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
    std::shared_ptr<platform::QueueMainExecutor> main_ = std::make_shared<platform::QueueMainExecutor>();
    std::shared_ptr<test::RecordingDelegate> delegate_ = std::make_shared<test::RecordingDelegate>();
    std::shared_ptr<Ondaline> engine_ = Ondaline::create(main_, clock_);
};

}  // namespace

// With the clock standing still no carrier or silence joins what the test
// hands over: half a second of audio is let through, what comes beyond it
// goes oldest first, and a run of drops is logged once.
TEST_F(AudioClock, AudioRunsAtMostHalfASecondAheadOfTheClock)
{
    test::LogCapture log;
    const std::string dropped = "Ondaline: ⚠ Audio ran ahead of the stream clock — dropped the oldest ";

    ASSERT_NO_FATAL_FAILURE(goLive());
    feed(22050);  // at the limit: 21 packets cut (the encoder holds one back) and a remainder
    EXPECT_EQ(engine_->audioPacketsSent(), 20u);
    EXPECT_FALSE(std::ranges::any_of(log.messages(), [&](const auto& line) { return line.starts_with(dropped); }));

    feed(1024);  // just past it: as much of the oldest goes
    EXPECT_TRUE(log.contains(dropped + "23ms to stay within 500ms"));
    feed(2048);
    EXPECT_EQ(engine_->audioPacketsSent(), 20u);
    EXPECT_EQ(std::ranges::count_if(log.messages(), [&](const auto& line) { return line.starts_with(dropped); }), 1);
}

// Audio short of the clock is made up with silence: the wait for the first
// delivery at once, as nothing can have been held up before any audio went
// out; a later shortfall only once it has lasted 0.4 s, so a source that was
// merely held up and makes up what it owes goes out whole.
TEST_F(AudioClock, SilenceFillsTheFirstWaitAtOnceAndALaterOneOnlyAfterAHold)
{
    test::LogCapture log;
    const auto fills = [&] {
        return std::ranges::count_if(log.messages(), [](const std::string& line) {
            return line.ends_with("behind the stream clock — filled with silence");
        });
    };
    constexpr std::uint32_t block = 2205;  // 50 ms
    ASSERT_NO_FATAL_FAILURE(goLive());

    clock_->advance(0.2);  // the first delivery comes 0.2 s after the start
    feed(block);
    EXPECT_EQ(fills(), 1);

    clock_->advance(0.3);  // held up
    feed(block);           // short of the clock: the hold begins
    clock_->advance(0.2);
    feed(block);  // still short, halfway through the hold
    EXPECT_EQ(fills(), 1);
    feed(8 * block);  // the rest of what it owes
    EXPECT_EQ(fills(), 1);
    EXPECT_EQ(engine_->audioPacketsSent(), 29u);  // 0.7 s: 30 packets cut, the encoder holding one back

    clock_->advance(0.6);  // paused
    feed(block);
    clock_->advance(0.3);
    feed(block);  // still short, the hold not yet over
    EXPECT_EQ(fills(), 1);
    clock_->advance(0.15);
    feed(block);  // now it is
    EXPECT_EQ(fills(), 2);
}

// Sound handed over while the encoders come up, after the stream began but
// before its first picture, would go out that far ahead of the picture: the
// stream's sound begins with its picture. The encoder queue is held while the
// start empties the ring and again before the encoders are made.
TEST_F(AudioClock, SoundGatheredBeforeThePictureDoesNotGoOutAheadOfIt)
{
    std::latch startHeld(1), encodersHeld(1);
    engine_->connect();
    engine_->encoderQueue().async([&] { startHeld.wait(); });
    for (int i = 0; i < 10000 && engine_->state() != StreamState::publishing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool started = engine_->state() == StreamState::publishing;
    if (started) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the start's first task queued behind the hold
        engine_->encoderQueue().async([&] { encodersHeld.wait(); });
    }
    startHeld.count_down();
    ASSERT_TRUE(started);

    clock_->advance(0.3);
    feed(13230, false);  // 0.3 s
    encodersHeld.count_down();
    ASSERT_NO_FATAL_FAILURE(waitUntilLive());
    EXPECT_EQ(engine_->audioPacketsSent(), 0u);
}
