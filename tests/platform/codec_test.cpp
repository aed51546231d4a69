#include "media/audio_packet_loop.h"
#include "platform/audio/audio_file_reader.h"
#include "platform/codec/aac_encoder.h"
#include "platform/codec/resampler.h"
#include "support/run_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <random>

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
    for (std::size_t i = static_cast<std::size_t>(channels); i < interleaved.size();
         i += static_cast<std::size_t>(channels)) {
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

// Encodes interleaved stereo at 44.1 kHz as an ADTS file and decodes it
// again with the player's file reader: what a listener's player gets.
std::vector<float> throughAAC(const std::vector<float>& interleaved, std::int64_t bitrate)
{
    auto created = AACEncoder::create({44100, 2, bitrate});
    auto& encoder = std::get<std::unique_ptr<AACEncoder>>(created);
    const auto path = ondaline::test::runFolder() / "through.aac";
    {
        std::ofstream file(path, std::ios::binary);
        const std::size_t block = AACEncoder::framesPerPacket * 2;
        for (std::size_t at = 0; at < interleaved.size() + 2 * block; at += block) {
            std::vector<float> part(block);  // silence after the end flushes the look-ahead
            for (std::size_t i = 0; i < block && at + i < interleaved.size(); ++i) part[i] = interleaved[at + i];
            const auto packet = encoder->encode(part).packet;
            if (packet.empty()) continue;
            // ADTS: MPEG-4 AAC LC, 44.1 kHz (index 4), two channels, no CRC.
            const std::size_t length = packet.size() + 7;
            const unsigned char header[7] = {0xFF,
                                             0xF1,
                                             0x50,
                                             static_cast<unsigned char>(0x80 | (length >> 11)),
                                             static_cast<unsigned char>(length >> 3),
                                             static_cast<unsigned char>(((length & 7) << 5) | 0x1F),
                                             0xFC};
            file.write(reinterpret_cast<const char*>(header), 7);
            file.write(reinterpret_cast<const char*>(packet.data()), static_cast<std::streamsize>(packet.size()));
        }
    }
    std::string error;
    auto reader = AudioFileReader::open(path.string(), error);
    std::vector<float> decoded;
    if (reader) {
        std::vector<float> left(4096), right(4096);
        while (const std::size_t n = reader->read(left.data(), right.data(), left.size())) {
            for (std::size_t i = 0; i < n; ++i) decoded.insert(decoded.end(), {left[i], right[i]});
        }
    }
    std::filesystem::remove(path);
    return decoded;
}

struct StereoFigures {
    double leftDB = 0, rightDB = 0, correlation = 0;
};

// RMS levels of both channels and how alike they are, the first and last
// 0.1 s left out (the encoder's delay and the flush).
StereoFigures stereoFigures(const std::vector<float>& interleaved)
{
    const std::size_t skip = 4410 * 2;
    double ll = 0, rr = 0, lr = 0;
    for (std::size_t i = skip; i + 1 + skip < interleaved.size(); i += 2) {
        ll += double(interleaved[i]) * interleaved[i];
        rr += double(interleaved[i + 1]) * interleaved[i + 1];
        lr += double(interleaved[i]) * interleaved[i + 1];
    }
    const double n = double(interleaved.size() - 2 * skip) / 2;
    return {10 * std::log10(ll / n), 10 * std::log10(rr / n), lr / std::sqrt(ll * rr)};
}

}  // namespace

TEST(AACEncoder, KeepsLevelPitchAndStereoImageAtTheDefaultRate)
{
    const std::int64_t rate = AACEncoder::Settings{}.bitrate;

    // Independent noise in each channel with most of its energy high up (the
    // difference of white noise rises towards 22 kHz): losing bandwidth
    // lowers its level, and intensity stereo, which sends one channel and a
    // level for the other above some frequency, makes the channels alike.
    std::minstd_rand random(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> noise;
    float previousLeft = 0, previousRight = 0;
    for (int i = 0; i < 2 * 44100; ++i) {
        const float left = uniform(random), right = uniform(random);
        noise.insert(noise.end(), {0.15f * (left - previousLeft), 0.15f * (right - previousRight)});
        previousLeft = left;
        previousRight = right;
    }
    const auto input = stereoFigures(noise);
    const auto decoded = throughAAC(noise, rate);
    ASSERT_GE(decoded.size(), noise.size());
    const auto output = stereoFigures(decoded);
    EXPECT_NEAR(output.leftDB, input.leftDB, 0.5);
    EXPECT_NEAR(output.rightDB, input.rightDB, 0.5);
    EXPECT_LT(std::abs(output.correlation), 0.1);

    // The harness's tone: pitch and level as the end-to-end checks read them.
    const auto tone = sine(440, 44100, 2 * 44100, 2);  // 0.25 of full scale
    auto decodedTone = throughAAC(tone, rate);
    ASSERT_GE(decodedTone.size(), tone.size());
    decodedTone.resize(tone.size());  // the flush's silence goes
    const auto toneOut = stereoFigures(decodedTone);
    const auto toneIn = stereoFigures(tone);
    EXPECT_NEAR(toneOut.leftDB, toneIn.leftDB, 0.1);
    EXPECT_NEAR(toneOut.rightDB, toneIn.rightDB, 0.1);
    EXPECT_GT(toneOut.correlation, 0.999);
    decodedTone.erase(decodedTone.begin(), decodedTone.begin() + 4410 * 2);
    EXPECT_NEAR(frequencyOf(decodedTone, 2, 44100), 440.0, 0.5);
}

TEST(AACEncoder, AFadingNoteGoesOutAsItsOwnPacketsThroughThePacketLoopAndOnlyTheSilenceAfterIsReplaced)
{
    // At the default rate the encoder spends only what masking asks for, so
    // a note fading out comes in packets as short as silence's. The loop
    // must still send them as they are, and the silence packet only once the
    // PCM a packet can carry is silent.
    namespace media = ondaline::media;
    for (const int channels : {2, 1}) {
        SCOPED_TRACE(channels);
        auto created = AACEncoder::create({44100, channels, AACEncoder::Settings{}.bitrate});
        auto& encoder = std::get<std::unique_ptr<AACEncoder>>(created);
        const ondaline::Bytes silence(100, 0xEE);
        media::AudioPacketLoop loop;
        loop.cachedSilenceAAC = silence;
        std::vector<ondaline::Bytes> sent;
        const media::AudioPacketLoop::Hooks hooks{
            .encode =
                [&](std::span<const float> samples) {
                    return media::EncodedPacket{encoder->encode(samples).packet, 0};
                },
            .send = [&](const ondaline::Bytes& packet, std::uint32_t) { sent.push_back(packet); },
            .log = [](const std::string&) {},
        };
        const int noteBlocks = 260;  // 6 s, from -18 to about -90 dBFS: the tail is silence by the loop's measure
        ondaline::Bytes pcm;
        int lastAudible = 0;
        for (int block = 0; block < noteBlocks + 40; ++block) {
            for (int i = 0; i < AACEncoder::framesPerPacket; ++i) {
                const double t = (block * AACEncoder::framesPerPacket + i) / 44100.0;
                double v = 0;
                for (int h = 1; h <= 5; ++h) v += std::sin(2 * std::numbers::pi * 220 * h * t) / h;
                const auto sample = block < noteBlocks ? static_cast<float>(0.125 * std::exp(-1.9 * t) * v) : 0.0f;
                if (std::fabs(sample) > media::silencePeak) lastAudible = block;
                for (int c = 0; c < channels; ++c) {
                    ondaline::appendBytes(pcm, ondaline::ByteView(reinterpret_cast<const std::uint8_t*>(&sample), 4));
                }
            }
        }
        loop.run(pcm, static_cast<std::uint32_t>(channels), 44100, hooks);

        // Packet k carries blocks k - 1 and k (the first one, the priming
        // packet, holds the note's onset and goes out); every packet up to
        // the first past the last audible block goes out as it came.
        ASSERT_LT(lastAudible, noteBlocks - 10);
        ASSERT_EQ(sent.size(), static_cast<std::size_t>(noteBlocks + 40 - 1));
        std::size_t shortOwn = 0;
        for (int k = 0; k <= lastAudible + 1; ++k) {
            ASSERT_NE(sent[static_cast<std::size_t>(k)], silence) << k;
            shortOwn += sent[static_cast<std::size_t>(k)].size() < media::shortPacketBytes ? 1 : 0;
        }
        EXPECT_GT(shortOwn, 0u);  // the case the loop must get right did occur
        for (std::size_t k = static_cast<std::size_t>(noteBlocks); k < sent.size(); ++k)
            EXPECT_EQ(sent[k], silence) << k;
    }
}

// Random bytes read as floats hold huge finite values, which the library
// refuses as it refuses infinities: each block is cleaned so none is lost.
TEST(AACEncoder, WildSamplesAreCleanedNotRefused)
{
    auto created = AACEncoder::create({44100, 2, 128000});
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<AACEncoder>>(created));
    auto& encoder = *std::get<std::unique_ptr<AACEncoder>>(created);
    std::mt19937 random(7);
    std::vector<float> block(AACEncoder::framesPerPacket * 2);
    int failures = 0, packets = 0;
    for (int i = 0; i < 20; ++i) {
        for (auto& sample : block) {
            const std::uint32_t bits = random();
            std::memcpy(&sample, &bits, sizeof sample);
        }
        block[0] = std::numeric_limits<float>::infinity();
        block[1] = 1e20f;
        const auto encoded = encoder.encode(block);
        failures += encoded.status != 0;
        packets += !encoded.packet.empty();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GE(packets, 19);

    EXPECT_EQ(AACEncoder::cleanSample(std::nanf("")), 0.0f);
    EXPECT_EQ(AACEncoder::cleanSample(-std::numeric_limits<float>::infinity()), -16.0f);
    EXPECT_EQ(AACEncoder::cleanSample(1e20f), 16.0f);
    EXPECT_EQ(AACEncoder::cleanSample(-0.75f), -0.75f);  // real audio passes unchanged
}

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
