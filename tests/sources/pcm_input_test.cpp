#include "sources/pcm_frame_assembler.h"
#include "sources/pcm_levels.h"
#include "sources/silence_pacer.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

using namespace std::chrono_literals;
using namespace ondaline::sources;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes pcm(const std::vector<float>& samples)
{
    Bytes bytes;
    for (const float sample : samples) {
        const auto bits = std::bit_cast<std::uint32_t>(sample);
        for (int i = 0; i < 4; ++i) bytes.push_back(std::uint8_t(bits >> (8 * i)));
    }
    return bytes;
}

std::vector<float> append(PCMFrameAssembler& assembler, const Bytes& bytes, std::size_t from, std::size_t to)
{
    const auto frames = assembler.append(ondaline::ByteView(bytes.data() + from, to - from));
    return {frames.begin(), frames.end()};
}

}  // namespace

TEST(PCMFrameAssembler, AnySplitGivesTheSameWholeFramesAndKeepsTheTail)
{
    std::vector<float> samples;
    for (int i = 0; i < 15; ++i) samples.push_back(float(i) * 0.125f - 1);  // 5 frames of 3 channels
    const Bytes stream = pcm(samples);
    Bytes withTail = stream;
    withTail.insert(withTail.end(), {0x11, 0x22, 0x33, 0x44, 0x55});

    for (std::size_t cut = 0; cut <= withTail.size(); ++cut) {
        PCMFrameAssembler assembler(3);
        auto frames = append(assembler, withTail, 0, cut);
        EXPECT_EQ(frames.size() % 3, 0u) << cut;
        const auto rest = append(assembler, withTail, cut, withTail.size());
        frames.insert(frames.end(), rest.begin(), rest.end());
        EXPECT_EQ(frames, samples) << cut;
        EXPECT_EQ(assembler.pendingBytes(), 5u) << cut;
    }

    // Byte by byte, each frame comes out whole when its last byte arrives.
    PCMFrameAssembler assembler(3);
    std::vector<float> frames;
    for (std::size_t at = 0; at < stream.size(); ++at) {
        const auto out = append(assembler, stream, at, at + 1);
        EXPECT_EQ(out.size(), (at + 1) % 12 == 0 ? 3u : 0u) << at;
        frames.insert(frames.end(), out.begin(), out.end());
    }
    EXPECT_EQ(frames, samples);
    EXPECT_EQ(assembler.pendingBytes(), 0u);

    // Non-finite samples, also one torn across reads, become silence.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const Bytes odd = pcm({nan, 0.5f, inf, -inf, -0.5f, nan});
    PCMFrameAssembler stereo(2);
    auto out = append(stereo, odd, 0, 10);
    const auto rest = append(stereo, odd, 10, odd.size());
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, (std::vector<float>{0, 0.5f, 0, 0, -0.5f, 0}));
}

TEST(PCMLevels, RMSOfTheFirstTwoChannelsMonoOnBoth)
{
    EXPECT_FALSE(measureLevels(std::vector<float>{}, 2));
    EXPECT_FALSE(measureLevels(std::vector<float>{0.5f, 0.5f}, 2));  // one frame
    EXPECT_FALSE(measureLevels(std::vector<float>{0.5f}, 1));
    EXPECT_FALSE(measureLevels(std::vector<float>{0.5f, 0.5f}, 0));

    const auto mono = measureLevels(std::vector<float>{0.6f, -0.8f}, 1);
    ASSERT_TRUE(mono);
    EXPECT_NEAR(mono->left, std::sqrt(0.5f), 1e-6);
    EXPECT_EQ(mono->left, mono->right);

    const auto three = measureLevels(std::vector<float>{0.5f, -0.25f, 9, -0.5f, 0.25f, -9}, 3);
    ASSERT_TRUE(three);
    EXPECT_FLOAT_EQ(three->left, 0.5f);
    EXPECT_FLOAT_EQ(three->right, 0.25f);
}

// Found by fuzzing the TCP input: samples past about 1.8e19 overflowed the
// float sum of squares, and the meters got inf.
TEST(PCMLevels, FiniteForSamplesFarOutOfRange)
{
    const float big = 3e19f, most = std::numeric_limits<float>::max();
    const auto levels = measureLevels(std::vector<float>{big, -most, -big, most, big, -most}, 2);
    ASSERT_TRUE(levels);
    EXPECT_FLOAT_EQ(levels->left, big);
    EXPECT_EQ(levels->right, most);
}

TEST(SilencePacer, DeliversRealTimeAndCapsTheCatchUp)
{
    const auto start = SilencePacer::Clock::now();
    SilencePacer pacer(48000, start);
    EXPECT_EQ(pacer.framesDue(start - 1s), 0u);
    EXPECT_EQ(pacer.framesDue(start), 0u);

    // One second of ticks: one tick's worth each, and the second in all.
    std::size_t total = 0;
    auto now = start;
    for (int tick = 1; tick * 23ms <= 1s; ++tick) {
        now = start + tick * 23ms;
        const std::size_t due = pacer.framesDue(now);
        EXPECT_NEAR(double(due), 1104, 1) << tick;
        total += due;
    }
    total += pacer.framesDue(start + 1s);
    EXPECT_EQ(total, 48000u);
    EXPECT_EQ(pacer.framesDue(start + 1s), 0u);
    EXPECT_EQ(pacer.framesDue(start + 500ms), 0u);  // a clock read out of order

    // A stall: at most 250 ms at once, and the rest of the gap is let go.
    EXPECT_EQ(pacer.framesDue(start + 3s), 12000u);
    EXPECT_NEAR(double(pacer.framesDue(start + 3s + 23ms)), 1104, 1);

    SilencePacer none(0, start);
    EXPECT_EQ(none.framesDue(start + 1s), 0u);
}
