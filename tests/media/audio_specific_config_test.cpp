#include "media/audio_specific_config.h"
#include "media/flv_audio.h"

#include "base/amf0_reader.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ondaline;
using namespace ondaline::media;

TEST(AudioSpecificConfig, BuiltFromRateAndChannels)
{
    EXPECT_EQ(buildAudioSpecificConfig(44100, 2), (Bytes{0x12, 0x10}));
    EXPECT_EQ(buildAudioSpecificConfig(48000, 2), (Bytes{0x11, 0x90}));
    EXPECT_EQ(buildAudioSpecificConfig(44100, 1), (Bytes{0x12, 0x08}));
    EXPECT_EQ(buildAudioSpecificConfig(44099.5, 2), (Bytes{0x12, 0x10}));
    EXPECT_EQ(buildAudioSpecificConfig(44000, 2), (Bytes{0x12, 0x10}));  // no match: 44100
    EXPECT_EQ(buildAudioSpecificConfig(std::nan(""), 2), (Bytes{0x12, 0x10}));
    EXPECT_EQ(buildAudioSpecificConfig(7350, 3)[1], (12 & 1) << 7 | 3 << 3);
    EXPECT_EQ(buildAudioSpecificConfig(44100, 9)[1], 7 << 3);
}

TEST(AudioSpecificConfig, DescriptorWalkerFindsTheDecoderInfoAndNeverOverreads)
{
    // ES descriptor (id, flags) > decoder config (13 bytes) > decoder-specific info.
    const Bytes cookie{0x03, 0x19, 0x00, 0x01, 0x00,  // ES_Descriptor
                       0x04, 0x11, 0x40, 0x15, 0x00, 0x18, 0x00, 0x00,
                       0x04, 0xE2, 0x00, 0x00, 0x04, 0xE2, 0x00,  // DecoderConfig
                       0x05, 0x02, 0x12, 0x10,                    // DecoderSpecificInfo
                       0x06, 0x01, 0x02};
    EXPECT_EQ(extractASCFromMagicCookie(cookie), (Bytes{0x12, 0x10}));
    for (std::size_t cut = 0; cut < 24; ++cut) {
        EXPECT_EQ(extractASCFromMagicCookie(ByteView(cookie).first(cut)), std::nullopt) << cut;
    }
    Bytes tooShort = cookie;
    tooShort[21] = 0x01;
    EXPECT_EQ(extractASCFromMagicCookie(tooShort), std::nullopt);

    // A two-byte length (top bit set on the first) and an unknown descriptor skipped whole.
    const Bytes longForm{0x07, 0x81, 0x00, 0x05, 0x80, 0x03, 0x11, 0x90, 0x00};
    Bytes skipped{0x07, 0x81, 0x00};
    skipped.resize(3 + 128, 0xEE);
    skipped.insert(skipped.end(), {0x05, 0x80, 0x02, 0x11, 0x90});
    EXPECT_EQ(extractASCFromMagicCookie(skipped), (Bytes{0x11, 0x90}));
    EXPECT_EQ(extractASCFromMagicCookie(longForm), std::nullopt);  // the skip runs past the end
    EXPECT_EQ(extractASCFromMagicCookie(Bytes{0x05, 0xFF, 0xFF, 0xFF, 0xFF}), std::nullopt);
}

TEST(FLVAudio, SequenceHeaderAndPacketBodies)
{
    EXPECT_EQ(aacSequenceHeaderBody(Bytes{0x12, 0x10}), (Bytes{0xAF, 0x00, 0x12, 0x10}));
    EXPECT_EQ(aacPacketBody(Bytes{0x21, 0x00}), (Bytes{0xAF, 0x01, 0x21, 0x00}));
}

TEST(FLVAudio, MetadataCarriesTheFifteenProperties)
{
    const Bytes body = onMetaDataBody(96500, 48000, 1);
    auto first = readAMF0Value(body, 0);
    auto second = readAMF0Value(body, first->consumed);
    EXPECT_EQ(first->value.stringValue(), "@setDataFrame");
    EXPECT_EQ(second->value.stringValue(), "onMetaData");
    const std::size_t arrayAt = static_cast<std::size_t>(first->consumed + second->consumed);
    EXPECT_EQ(Bytes(body.begin() + arrayAt, body.begin() + arrayAt + 5), (Bytes{0x08, 0, 0, 0, 15}));
    // Read the properties as an object body (same layout after the count).
    Bytes asObject{0x03};
    asObject.insert(asObject.end(), body.begin() + arrayAt + 5, body.end());
    const auto object = readAMF0Value(asObject, 0);
    const auto& properties = *object->value.objectValue();
    EXPECT_EQ(properties.size(), 15u);
    EXPECT_EQ(properties.at("audiodatarate").numberValue(), 96.0);
    EXPECT_EQ(properties.at("audiosamplerate").numberValue(), 48000.0);
    EXPECT_EQ(properties.at("audiochannels").numberValue(), 1.0);
    EXPECT_EQ(properties.at("stereo"), AMF0Value::boolean(false));
    EXPECT_EQ(properties.at("framerate").numberValue(), 24000.0 / 1001.0);
    EXPECT_EQ(properties.at("encoder").stringValue(), "Ondaline 1.0.26");
    EXPECT_EQ(properties.at("videocodecid").numberValue(), 7.0);
    EXPECT_EQ(Bytes(body.end() - 3, body.end()), (Bytes{0x00, 0x00, 0x09}));
}
