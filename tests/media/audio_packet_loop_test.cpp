#include "media/audio_packet_loop.h"
#include "media/carrier.h"
#include "media/pcm_ring.h"

#include <gtest/gtest.h>

#include <deque>

using namespace ondaline;
using namespace ondaline::media;

namespace {

// An encoder that hands back a scripted sequence of packet sizes (0 means
// held back; negative means a failure with that status).
struct ScriptedLoop {
    AudioPacketLoop loop;
    std::deque<int> sizes;
    std::vector<std::pair<std::size_t, std::uint32_t>> sent;  // size, timestamp
    std::vector<std::string> lines;
    AudioPacketLoop::Hooks hooks{
        .encode =
            [this](std::span<const float>) {
                const int size = sizes.empty() ? 300 : sizes.front();
                if (!sizes.empty()) sizes.pop_front();
                if (size < 0) return EncodedPacket{{}, size};
                return EncodedPacket{Bytes(static_cast<std::size_t>(size), 0x21), 0};
            },
        .send = [this](const Bytes& packet, std::uint32_t ts) { sent.emplace_back(packet.size(), ts); },
        .log = [this](const std::string& line) { lines.push_back(line); },
    };

    void feed(std::size_t packets, std::uint32_t channels = 2, double rate = 44100)
    {
        Bytes pcm(packets * framesPerPacket * channels * 4, 0);
        loop.run(pcm, channels, rate, hooks);
    }
    bool logged(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

}  // namespace

TEST(AudioPacketLoop, LeavesTheRemainderAndStampsFromTheFrameCount)
{
    ScriptedLoop s;
    Bytes pcm(1536 * 8, 0);  // one and a half stereo packets
    s.loop.run(pcm, 2, 44100, s.hooks);
    EXPECT_EQ(pcm.size(), 512u * 8);
    s.feed(5);
    std::vector<std::uint32_t> stamps;
    for (auto& [size, ts] : s.sent) stamps.push_back(ts);
    EXPECT_EQ(stamps, (std::vector<std::uint32_t>{0, 23, 46, 69, 92, 116}));

    ScriptedLoop at48k;
    at48k.feed(6, 2, 48000);
    std::vector<std::uint32_t> stamps48;
    for (auto& [size, ts] : at48k.sent) stamps48.push_back(ts);
    EXPECT_EQ(stamps48, (std::vector<std::uint32_t>{0, 21, 42, 64, 85, 106}));
}

TEST(AudioPacketLoop, HeldBackPacketsDoNotMoveTheTimelineAndAShortFirstOneIsPriming)
{
    ScriptedLoop s;
    s.sizes = {0, 30, 300, 300};
    s.feed(4);
    EXPECT_TRUE(s.logged("Ondaline: Skipping encoder priming frame (30 bytes) over RTMP"));
    ASSERT_EQ(s.sent.size(), 2u);
    EXPECT_EQ(s.sent[0].second, 0u);  // the count restarted after priming
    EXPECT_EQ(s.loop.audioPacketsSent, 3u);
    EXPECT_TRUE(s.logged("Ondaline: Audio packet #1 — 300 bytes, ts=0ms"));
    EXPECT_TRUE(s.logged("Ondaline: First audio packet hex: 21 21 21 21 21 21 21 21 21 21 21 21 21 21 21 21"));
    EXPECT_FALSE(s.logged("Ondaline: WARNING — AAC encoder returned nil for first frame"));
}

TEST(AudioPacketLoop, SubstitutesTenSilencePacketsThenHoldsTheTimeline)
{
    ScriptedLoop s;
    s.loop.cachedSilenceAAC = Bytes(100, 0x00);
    s.sizes = {300};
    for (int i = 0; i < 12; ++i) s.sizes.push_back(10);
    s.sizes.push_back(400);
    s.feed(14);
    // 1 real + 10 substitutes + the real one after; the 11th and 12th are held.
    ASSERT_EQ(s.sent.size(), 12u);
    EXPECT_EQ(s.sent[1].first, 100u);
    EXPECT_EQ(s.sent[10].first, 100u);
    EXPECT_EQ(s.sent[11], (std::pair<std::size_t, std::uint32_t>{400, 301}));  // 13 packets on: 13 × 1024 / 44.1
    EXPECT_EQ(s.loop.audioPacketsSent, 14u);
    for (int n : {1, 2, 3, 10}) {
        EXPECT_TRUE(s.logged("Ondaline: 🔇 Substituted silence frame #" + std::to_string(n) + " (10B → 100B) at ts=" +
                             std::to_string(n * 1024 * 1000 / 44100) + "ms"))
            << n;
    }
    EXPECT_FALSE(s.logged("Ondaline: 🔇 Substituted silence frame #4 (10B → 100B) at ts=92ms"));
    EXPECT_TRUE(s.logged("Ondaline: 🔇 Silence cap reached (10 frames sent) — holding timeline at ts=255ms until real "
                         "audio returns"));
    EXPECT_TRUE(s.logged("Ondaline: 🔊 Real audio resumed after 12 silence frames at ts=301ms"));
}

TEST(AudioPacketLoop, WithoutACachedPacketShortOnesAreDroppedAndEncodeErrorsAreRateLimited)
{
    ScriptedLoop s;
    s.sizes = {300, 10, 10};
    s.feed(3);
    EXPECT_EQ(s.sent.size(), 1u);
    EXPECT_EQ(s.loop.audioPacketsSent, 3u);

    ScriptedLoop failing;
    for (int i = 0; i < 250; ++i) failing.sizes.push_back(-22);
    failing.feed(250);
    EXPECT_TRUE(failing.logged("Ondaline: WARNING — AAC encoder returned nil for first frame"));
    int errorLines = 0;
    for (const auto& line : failing.lines) errorLines += line.starts_with("Ondaline: AAC encode error: -22") ? 1 : 0;
    EXPECT_EQ(errorLines, 3);  // the 1st, 10th and 100th
    EXPECT_EQ(failing.loop.encoderSampleCount, 0u);
}

TEST(PCMRing, DropsTheOldestWholeFramesWhenFullAndPutsRemaindersInFront)
{
    PCMRing ring;
    ring.setCapacity(8, 4);  // four stereo frames
    EXPECT_EQ(ring.append(Bytes(24, 1)), 0u);
    EXPECT_EQ(ring.append(Bytes(16, 2)), 1u);
    const Bytes all = ring.takeAll();
    ASSERT_EQ(all.size(), 32u);
    EXPECT_EQ(all[0], 1);
    EXPECT_EQ(all[31], 2);
    ring.append(Bytes{9});
    ring.putBack(Bytes{7, 8});
    EXPECT_EQ(ring.takeAll(), (Bytes{7, 8, 9}));
}

TEST(Carrier, DeliversTheFramesDueInTheStreamsFormatFromTheRepeatedBlock)
{
    Bytes block;
    for (int i = 0; i < 1024; ++i) {
        const float value = static_cast<float>(i);
        for (int c = 0; c < 2; ++c) appendBytes(block, ByteView(reinterpret_cast<const std::uint8_t*>(&value), 4));
    }
    CarrierGenerator carrier(block);
    auto frames = carrier.framesFor(0.023, 44100, 2);
    EXPECT_EQ(frames.size(), 2u * 1014);  // 1014.3 frames due
    EXPECT_EQ(frames[0], 0.0f);
    EXPECT_EQ(frames[2 * 1013], 1013.0f);
    frames = carrier.framesFor(0.023, 44100, 2);
    EXPECT_EQ(frames[0], 1014.0f);  // continues where it stopped
    EXPECT_EQ(frames[2 * 10], 0.0f);  // and wraps at the block's edge

    CarrierGenerator mono(block);
    double total = 0;
    for (int tick = 0; tick < 1000; ++tick) total += mono.framesFor(0.023, 48000, 1).size();
    EXPECT_NEAR(total, 0.023 * 1000 * 48000, 1.0);  // real time, whatever the format
}
