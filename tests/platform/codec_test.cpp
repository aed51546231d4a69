#include "platform/codec/aac_encoder.h"
#include "platform/codec/resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

using namespace ondaline::platform;

namespace {

std::vector<float> sine(double hz, double rate, std::size_t frames, int channels, std::size_t offset = 0)
{
    std::vector<float> out;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<float>(0.25 * std::sin(2 * std::numbers::pi * hz * double(i + offset) / rate));
        for (int c = 0; c < channels; ++c) out.push_back(v);
    }
    return out;
}

// Frequency from the rising zero crossings of the first channel.
double frequencyOf(const std::vector<float>& interleaved, int channels, double rate)
{
    int crossings = 0;
    std::size_t first = 0, last = 0;
    for (std::size_t i = static_cast<std::size_t>(channels); i < interleaved.size(); i += static_cast<std::size_t>(channels)) {
        if (interleaved[i - static_cast<std::size_t>(channels)] < 0 && interleaved[i] >= 0) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    return (crossings - 1) / (double(last - first) / channels / rate);
}

std::unique_ptr<AACEncoder> encoder(int rate, int channels)
{
    auto created = AACEncoder::create({rate, channels, 128000});
    auto* made = std::get_if<std::unique_ptr<AACEncoder>>(&created);
    return made ? std::move(*made) : nullptr;
}

}  // namespace

TEST(AACEncoder, RefusesWhatAACCannotCarry)
{
    for (int channels : {0, 7, 9}) {
        auto created = AACEncoder::create({44100, channels, 128000});
        ASSERT_TRUE(std::holds_alternative<AACEncoder::Failure>(created)) << channels;
        EXPECT_EQ(std::get<AACEncoder::Failure>(created).status, -1);
    }
}

TEST(AACEncoder, GivesTheAudioSpecificConfigAndOnePacketPerBlockAfterTheFirst)
{
    auto stereo = encoder(44100, 2);
    ASSERT_TRUE(stereo);
    ASSERT_GE(stereo->audioSpecificConfig().size(), 2u);
    EXPECT_EQ(stereo->audioSpecificConfig()[0], 0x12);
    EXPECT_EQ(stereo->audioSpecificConfig()[1], 0x10);
    auto mono48 = encoder(48000, 1);
    EXPECT_EQ(mono48->audioSpecificConfig()[0], 0x11);
    EXPECT_EQ(mono48->audioSpecificConfig()[1], 0x88);

    int packets = 0;
    for (int block = 0; block < 20; ++block) {
        auto encoded = stereo->encode(sine(1000, 44100, 1024, 2, block * 1024u));
        EXPECT_EQ(encoded.status, 0);
        if (block == 0) {
            EXPECT_TRUE(encoded.packet.empty());  // held back for the look-ahead
        } else {
            EXPECT_GT(encoded.packet.size(), 64u);
            ++packets;
        }
    }
    EXPECT_EQ(packets, 19);

    std::vector<float> broken(2048, std::numeric_limits<float>::quiet_NaN());
    broken[5] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(stereo->encode(broken).status, 0);
    EXPECT_NE(stereo->encode(std::vector<float>(100)).status, 0);  // not one packet's worth
}

TEST(Resampler, BlockByBlockConversionKeepsPitchAndDuration)
{
    auto resampler = Resampler::create(48000, 44100, 2);
    ASSERT_TRUE(resampler);
    std::vector<float> out;
    for (std::size_t block = 0; block < 94; ++block) {  // about 2 s
        const auto part = resampler->convert(sine(1000, 48000, 1024, 2, block * 1024));
        ASSERT_FALSE(part.error) << *part.error;
        out.insert(out.end(), part.interleaved.begin(), part.interleaved.end());
    }
    const double inputSeconds = 94 * 1024 / 48000.0;
    EXPECT_NEAR(out.size() / 2 / 44100.0, inputSeconds, 0.005);
    EXPECT_NEAR(frequencyOf(out, 2, 44100), 1000.0, 1.0);
    EXPECT_FALSE(Resampler::create(0, 44100, 2));
}
