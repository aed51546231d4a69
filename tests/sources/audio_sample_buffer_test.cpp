// What the capture does with each buffer before the owner sees it, and the
// converter the owner reads it with.

#include "sources/audio_source_capture.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>

using namespace ondaline;
using namespace ondaline::sources;

namespace {

AudioSampleBuffer buffer(std::uint32_t frames, std::uint32_t flags = AudioStreamDescription::flagIsFloat |
                                                                     AudioStreamDescription::flagIsPacked)
{
    AudioSampleBuffer b;
    b.numSamples = frames;
    b.format = AudioStreamDescription{48000, flags, 8, 2, 32};
    b.data = Bytes(std::size_t{frames} * 8, 0);
    return b;
}

}  // namespace

TEST(AudioBufferConverter, ReadsTheBytesAsFloatsInStoredOrder)
{
    AudioSampleBuffer b = buffer(1024);
    const float values[] = {0.5f, -0.25f, 1.0f};
    std::memcpy(b.data->data(), values, sizeof values);
    const auto pcm = AudioBufferConverter::extractPCMFloat32(b);
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->first.size(), 2048u);  // 8192 bytes, whatever the channel count
    EXPECT_EQ(pcm->first[0], 0.5f);
    EXPECT_EQ(pcm->first[1], -0.25f);
    EXPECT_EQ(pcm->first[2], 1.0f);
    EXPECT_EQ(pcm->second.sampleRate, 48000);

    b.data->push_back(0);  // a torn last float is left out
    EXPECT_EQ(AudioBufferConverter::extractPCMFloat32(b)->first.size(), 2048u);
    EXPECT_EQ(AudioBufferConverter::extractRawData(b)->size(), 8193u);

    AudioSampleBuffer noFormat = buffer(4), noData = buffer(4);
    noFormat.format.reset();
    noData.data.reset();
    EXPECT_FALSE(AudioBufferConverter::extractPCMFloat32(noFormat));
    EXPECT_FALSE(AudioBufferConverter::extractPCMFloat32(noData));
    EXPECT_FALSE(AudioBufferConverter::extractRawData(noData));
}

// Only valid audio buffers with samples are counted and handed on; the first
// logs its format, every 500th the count.
TEST(AudioSourceCapture, CountsAndLogsTheBuffersItHandsOn)
{
    const auto capture = AudioSourceCapture::create();
    int handed = 0;
    capture->setOnAudioBuffer([&](const AudioSampleBuffer&) { ++handed; });
    test::LogCapture log;

    AudioSampleBuffer screen = buffer(512), invalid = buffer(512), empty = buffer(0);
    screen.type = AudioSampleBuffer::Type::screen;
    invalid.isValid = false;
    for (const auto* ignored : {&screen, &invalid, &empty}) capture->handleSampleBuffer(*ignored, 0);
    EXPECT_EQ(handed, 0);

    const auto planar = AudioStreamDescription::flagIsFloat | AudioStreamDescription::flagIsPacked |
                        AudioStreamDescription::flagIsNonInterleaved;
    capture->handleSampleBuffer(buffer(512, planar), 0);
    EXPECT_TRUE(log.contains("AudioSourceCapture: First audio buffer received — 48000Hz, 2ch, flags=0x29, "
                             "nonInterleaved=true, samples=512"));
    for (int i = 2; i <= 1000; ++i) capture->handleSampleBuffer(buffer(512), 0);
    EXPECT_EQ(handed, 1000);
    const auto messages = log.messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "AudioSourceCapture: 500 audio buffers received"), 1);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "AudioSourceCapture: 1000 audio buffers received"), 1);
    EXPECT_FALSE(log.contains("AudioSourceCapture: 499 audio buffers received"));

    // A buffer of an earlier capture (an older generation) is not handed on,
    // and stopping what is not capturing logs nothing.
    capture->stopCapture();
    capture->handleSampleBuffer(buffer(512), 0);
    EXPECT_EQ(handed, 1000);
    EXPECT_FALSE(log.contains("AudioSourceCapture: Stopped"));
}

TEST(AudioSource, EqualByProcessIdAlone)
{
    EXPECT_EQ((AudioSource{42, "Player", "player", {}}), (AudioSource{42, "Other name", std::nullopt, {}}));
    EXPECT_NE((AudioSource{42, "Player", {}, {}}), (AudioSource{43, "Player", {}, {}}));
    const auto capture = AudioSourceCapture::create();
    test::LogCapture log;
    EXPECT_EQ(capture->startCapture(AudioSource{42, "No application", {}, {}}), std::nullopt);
    EXPECT_FALSE(capture->isCapturing());
    EXPECT_TRUE(log.contains("AudioSourceCapture: The source names no application"));

    // No sound server, said in this platform's words.
    const char* server = std::getenv("PULSE_SERVER");
    const std::optional<std::string> saved = server ? std::optional<std::string>(server) : std::nullopt;
    setenv("PULSE_SERVER", "unix:/nonexistent/ondaline/pulse/native", 1);
    std::string error;
    EXPECT_TRUE(capture->availableSources(error).empty());
    if (saved) setenv("PULSE_SERVER", saved->c_str(), 1);
    else unsetenv("PULSE_SERVER");
    EXPECT_TRUE(log.contains("AudioSourceCapture: Cannot list the applications playing sound — " + error)) << error;
}
