// A captured buffer as the engine, the meters and the bars take it.

#include "sources/captured_pcm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace ondaline;
using namespace ondaline::sources;

namespace {

AudioSampleBuffer captured(const std::vector<float>& samples, std::uint32_t channels, bool planar = false)
{
    AudioSampleBuffer buffer;
    buffer.format = AudioStreamDescription::interleavedFloat(44100, channels);
    if (planar) buffer.format->formatFlags |= AudioStreamDescription::flagIsNonInterleaved;
    buffer.data = Bytes(samples.size() * sizeof(float));
    if (!samples.empty()) std::memcpy(buffer.data->data(), samples.data(), buffer.data->size());
    return buffer;
}

}  // namespace

TEST(CapturedPCM, InterleavesPlanesAndMetersChannelsZeroAndOne)
{
    const auto stereo = capturedPCM(captured({1, 2, 3, -4, -5, -6}, 2, true));
    ASSERT_TRUE(stereo);
    EXPECT_EQ(stereo->interleaved, (std::vector<float>{1, -4, 2, -5, 3, -6}));
    EXPECT_EQ(stereo->frames, 3u);
    EXPECT_EQ(stereo->sampleRate, 44100);
    EXPECT_FLOAT_EQ(stereo->levels.left, std::sqrt(14.0f / 3));
    EXPECT_FLOAT_EQ(stereo->levels.right, std::sqrt(77.0f / 3));
    // Planes past the second are not copied; interleaved data goes as it
    // came, less a torn last frame; mono shows its one level on both sides.
    EXPECT_EQ(capturedPCM(captured({1, 2, 3, 4, 5, 6}, 3, true))->interleaved, (std::vector<float>{1, 3, 0, 2, 4, 0}));
    EXPECT_EQ(capturedPCM(captured({1, 2, 3, 4, 5}, 2))->interleaved, (std::vector<float>{1, 2, 3, 4}));
    for (const bool planar : {false, true}) {
        const auto mono = capturedPCM(captured({0.5f, -0.5f, 0.5f}, 1, planar));
        EXPECT_EQ(mono->interleaved, (std::vector<float>{0.5f, -0.5f, 0.5f}));
        EXPECT_FLOAT_EQ(mono->levels.left, 0.5f);
        EXPECT_FLOAT_EQ(mono->levels.right, 0.5f);
    }
}

TEST(CapturedPCM, OnlyBuffersOf1024FramesFeedTheBars)
{
    std::vector<float> samples(2048);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i);
    EXPECT_TRUE(capturedPCM(captured({samples.begin(), samples.end() - 2}, 2))->spectrumInput.empty());
    const auto interleaved = capturedPCM(captured(samples, 2));
    ASSERT_EQ(interleaved->spectrumInput.size(), 1024u);
    EXPECT_EQ(interleaved->spectrumInput[1023], 2046.0f);                              // channel 0
    EXPECT_EQ(capturedPCM(captured(samples, 2, true))->spectrumInput[1023], 1023.0f);  // the first plane
}

TEST(CapturedPCM, BuffersWithoutAWholeFrameGiveNothing)
{
    AudioSampleBuffer noData = captured({1, 2}, 2);
    noData.data.reset();
    EXPECT_FALSE(capturedPCM(noData));
    EXPECT_FALSE(capturedPCM(captured({1, 2}, 0)));
    EXPECT_FALSE(capturedPCM(captured({1}, 2)));
    EXPECT_FALSE(capturedPCM(captured({}, 2, true)));
}
