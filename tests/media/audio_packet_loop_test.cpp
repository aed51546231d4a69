#include "media/audio_packet_loop.h"
#include "media/audio_timeline.h"
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
    EXPECT_FALSE(s.logged("Ondaline: WARNING — AAC encoder returned nothing for first frame"));
}

TEST(AudioPacketLoop, SilenceGoesOutAsTheCachedPacketForAsLongAsItLastsWithoutHoles)
{
    ScriptedLoop s;
    s.loop.cachedSilenceAAC = Bytes(100, 0x00);
    s.sizes = {300};
    for (int i = 0; i < 40; ++i) s.sizes.push_back(10);
    s.sizes.push_back(400);
    s.feed(42);
    // Every chunk yields a packet: 1 real, 40 substitutes, the real one after.
    ASSERT_EQ(s.sent.size(), 42u);
    for (std::size_t i = 1; i <= 40; ++i) EXPECT_EQ(s.sent[i].first, 100u) << i;
    for (std::size_t i = 0; i < s.sent.size(); ++i) {
        EXPECT_EQ(s.sent[i].second, i * 1024 * 1000 / 44100) << i;  // one packet per 1024 frames
    }
    EXPECT_EQ(s.loop.audioPacketsSent, 42u);
    for (int n : {1, 2, 3, 10}) {
        EXPECT_TRUE(s.logged("Ondaline: 🔇 Substituted silence frame #" + std::to_string(n) +
                             " (10B → 100B) at ts=" + std::to_string(n * 1024 * 1000 / 44100) + "ms"))
            << n;
    }
    EXPECT_FALSE(s.logged("Ondaline: 🔇 Substituted silence frame #4 (10B → 100B) at ts=92ms"));
    EXPECT_TRUE(s.logged("Ondaline: 🔇 Silence cap reached (10 frames sent) — silence goes on being sent from "
                         "ts=255ms until real audio returns"));
    EXPECT_TRUE(s.logged("Ondaline: 🔊 Real audio resumed after 40 silence frames at ts=952ms"));

    // The carrier after a silence is no audio resuming, nor is audio coming
    // back while it plays (the carrier's end says so).
    ScriptedLoop carried;
    carried.loop.cachedSilenceAAC = Bytes(100, 0x00);
    carried.sizes = {300, 10, 10, 10, 10, 300, 300};
    carried.feed(5);
    carried.loop.carrierOnAir = true;
    carried.feed(2);
    EXPECT_EQ(carried.loop.consecutiveSilenceFrames, 0);
    EXPECT_TRUE(std::none_of(carried.lines.begin(), carried.lines.end(),
                             [](const std::string& line) { return line.find("Real audio resumed") != line.npos; }));

    // Without a cached packet the encoder's own short packets go out.
    ScriptedLoop bare;
    bare.sizes = {300, 10, 10};
    bare.feed(3);
    ASSERT_EQ(bare.sent.size(), 3u);
    EXPECT_EQ(bare.sent[2], (std::pair<std::size_t, std::uint32_t>{10, 46}));

    // Short packets of audible PCM are music: they go out as they came, and
    // the substitute starts only once the last three blocks are silent.
    ScriptedLoop quietMusic;
    quietMusic.loop.cachedSilenceAAC = Bytes(100, 0x00);
    quietMusic.sizes = {300, 10, 10, 10, 10, 10, 10};
    std::vector<float> samples(4 * framesPerPacket * 2, 0.0f);
    samples[2 * framesPerPacket * 2 + 5] = 0.001f;  // block 2 at -60 dBFS, one sample
    Bytes pcm(reinterpret_cast<const std::uint8_t*>(samples.data()),
              reinterpret_cast<const std::uint8_t*>(samples.data() + samples.size()));
    quietMusic.loop.run(pcm, 2, 44100, quietMusic.hooks);
    quietMusic.feed(3);
    std::vector<std::size_t> sizes;
    for (auto& [size, ts] : quietMusic.sent) sizes.push_back(size);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{300, 100, 10, 10, 10, 100, 100}));
    EXPECT_TRUE(quietMusic.logged("Ondaline: 🔊 Real audio resumed after 1 silence frames at ts=46ms"));
}

TEST(AudioPacketLoop, EncodeErrorsAreRateLimitedAndSilenceFillsAfterTheRemainder)
{
    ScriptedLoop failing;
    for (int i = 0; i < 250; ++i) failing.sizes.push_back(-22);
    failing.feed(250);
    EXPECT_TRUE(failing.logged("Ondaline: WARNING — AAC encoder returned nothing for first frame"));
    int errorLines = 0;
    for (const auto& line : failing.lines) errorLines += line.starts_with("Ondaline: AAC encode error: -22") ? 1 : 0;
    EXPECT_EQ(errorLines, 3);                                 // the 1st, 10th and 100th
    EXPECT_EQ(failing.loop.encoderSampleCount, 250u * 1024);  // each failed block keeps its slot
    EXPECT_EQ(failing.loop.framesTaken, 250u * 1024);         // PCM consumed all the same

    // A block the encoder refuses mid-stream: the cached silence takes its
    // slot, or with none the next packet carries its own time, so the audio
    // never falls behind the clock.
    for (const bool cached : {true, false}) {
        ScriptedLoop refused;
        if (cached) refused.loop.cachedSilenceAAC = Bytes(100, 0x11);
        refused.sizes = {300, 300, -22, 300};
        refused.feed(4);
        std::vector<std::pair<std::size_t, std::uint32_t>> expected{{300, 0}, {300, 23}, {300, 69}};
        if (cached) expected.insert(expected.begin() + 2, {100, 46});
        EXPECT_EQ(refused.sent, expected) << cached;
    }

    // A run leaves half a packet; the next delivery comes after a gap. The
    // silence goes between the old half packet and the new audio.
    ScriptedLoop s;
    Bytes pcm(1536 * 8, 1);
    s.loop.run(pcm, 2, 44100, s.hooks);
    ASSERT_EQ(s.loop.remainderBytes, 512u * 8);
    pcm.insert(pcm.end(), 8, 2);  // one new frame
    s.loop.insertSilence(pcm, 3, 2);
    ASSERT_EQ(pcm.size(), (512u + 3 + 1) * 8);
    EXPECT_EQ(pcm[512 * 8 - 1], 1);
    for (std::size_t i = 512 * 8; i < 515 * 8; ++i) EXPECT_EQ(pcm[i], 0) << i;
    EXPECT_EQ(pcm.back(), 2);
}

TEST(AudioTimeline, OnlyAShortfallPastTheJitterToleranceIsFilledAndAHugeOneIsCapped)
{
    AudioTimeline timeline;
    EXPECT_EQ(timeline.shortfall(10, 44100, 0), 0u);  // not started
    timeline.start(100);
    EXPECT_EQ(timeline.shortfall(101, 44100, 44100 - 4410), 0u);  // 100 ms behind: a burst still on its way
    EXPECT_EQ(timeline.shortfall(101.04, 44100, 0), 45864u);      // a late first delivery: all of it
    EXPECT_EQ(timeline.shortfall(102, 44100, 3 * 44100), 0u);     // ahead (a sender's pre-roll): nothing
    EXPECT_EQ(timeline.shortfall(99, 44100, 0), 0u);              // a clock before the start
    EXPECT_EQ(timeline.shortfall(101, 0, 0), 0u);

    // An hour asleep: five seconds now, and the rest is not owed later.
    EXPECT_EQ(timeline.shortfall(3700, 48000, 0), 5u * 48000);
    EXPECT_EQ(timeline.shortfall(3700, 48000, 5 * 48000), 0u);
    EXPECT_EQ(timeline.shortfall(3701, 48000, 5 * 48000), 48000u);
    timeline.stop();
    EXPECT_EQ(timeline.shortfall(3800, 48000, 0), 0u);
}

TEST(AudioTimeline, AudioMayLeadTheClockByHalfASecondAndNoMore)
{
    AudioTimeline timeline;
    EXPECT_EQ(timeline.excess(10, 44100, 10 * 44100), 0u);  // not started
    timeline.start(100);
    EXPECT_EQ(timeline.excess(100, 44100, 22050), 0u);  // at the limit
    EXPECT_EQ(timeline.excess(100, 44100, 22051), 1u);  // just past it
    EXPECT_EQ(timeline.excess(102, 48000, 2 * 48000 + 24000), 0u);
    EXPECT_EQ(timeline.excess(102, 48000, 3 * 48000), 24000u);
    EXPECT_EQ(timeline.excess(99, 44100, 22051), 1u);  // a clock before the start counts as the start
    EXPECT_EQ(timeline.excess(101, 0, 1000000), 0u);
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
    EXPECT_EQ(frames[0], 1014.0f);    // continues where it stopped
    EXPECT_EQ(frames[2 * 10], 0.0f);  // and wraps at the block's edge

    CarrierGenerator mono(block);
    double total = 0;
    for (int tick = 0; tick < 1000; ++tick) total += mono.framesFor(0.023, 48000, 1).size();
    EXPECT_NEAR(total, 0.023 * 1000 * 48000, 1.0);  // real time, whatever the format
}
