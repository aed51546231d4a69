#include "platform/codec/h264_encoder.h"

#include <gtest/gtest.h>

using namespace ondaline::platform;
using Bytes = std::vector<std::uint8_t>;

TEST(AnnexB, SplitsAtThreeAndFourByteStartCodes)
{
    const Bytes stream{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3, 0, 0, 0, 1, 0x65, 4, 5};
    const auto units = splitAnnexB(stream);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(Bytes(units[0].begin(), units[0].end()), (Bytes{0x67, 1, 2}));
    EXPECT_EQ(Bytes(units[1].begin(), units[1].end()), (Bytes{0x68, 3}));
    EXPECT_EQ(Bytes(units[2].begin(), units[2].end()), (Bytes{0x65, 4, 5}));
    EXPECT_TRUE(splitAnnexB(Bytes{1, 2, 3}).empty());
}

TEST(H264Encoder, MainProfileFramesComeOutAtOnceAndKeyOnlyWhenForced)
{
    auto created = H264Encoder::create({});
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<H264Encoder>>(created))
        << std::get<H264Encoder::Failure>(created).reason;
    auto& encoder = std::get<std::unique_ptr<H264Encoder>>(created);
    ASSERT_GE(encoder->sps().size(), 4u);
    EXPECT_EQ(encoder->sps()[0] & 0x1F, 7);
    EXPECT_EQ(encoder->sps()[1], 77);  // Main profile
    EXPECT_EQ(encoder->sps()[3], 31);  // level 3.1
    EXPECT_EQ(encoder->pps()[0] & 0x1F, 8);

    Bytes frame(1280 * 720 * 4, 0);
    for (std::int64_t n = 0; n < 60; ++n) {
        for (std::size_t i = 0; i < frame.size(); i += 4)
            frame[i + 1] = static_cast<std::uint8_t>(n * 4);  // green ramp
        const bool force = n == 0 || (n + 1) % 48 == 0;
        auto result = encoder->encode(frame, n, force);
        ASSERT_TRUE(std::holds_alternative<std::vector<H264Encoder::Frame>>(result));
        const auto& frames = std::get<std::vector<H264Encoder::Frame>>(result);
        ASSERT_EQ(frames.size(), 1u) << "zero latency: frame " << n;
        EXPECT_EQ(frames[0].keyFrame, force) << n;
        EXPECT_EQ(frames[0].pts, n);
        // Length-prefixed NAL units that add up to the whole frame.
        std::size_t at = 0;
        while (at < frames[0].data.size()) {
            const std::size_t length = (std::size_t(frames[0].data[at]) << 24) | (frames[0].data[at + 1] << 16) |
                                       (frames[0].data[at + 2] << 8) | frames[0].data[at + 3];
            at += 4 + length;
        }
        EXPECT_EQ(at, frames[0].data.size());
    }
    EXPECT_TRUE(std::holds_alternative<int>(encoder->encode(Bytes(10), 60, false)));
}
