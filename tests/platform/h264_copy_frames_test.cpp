// Unchanged pictures sent as copies written beside libx264: the stream must
// decode strictly, number its frames without a gap and show what libx264
// alone would have shown.

#include "platform/codec/h264_encoder.h"
#include "platform/codec/h264_skip_frame.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>

using namespace ondaline::platform;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int width = 1280, height = 720;

// A picture libx264 keeps refining for a while: gradients, bars, fine noise
// and hard edges; `variant` moves a block to make a different picture.
Bytes picture(int variant, bool noisy)
{
    Bytes bgra(std::size_t(width) * height * 4);
    std::uint32_t seed = 99;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &bgra[(std::size_t(y) * width + x) * 4];
            const bool block = std::abs(x - 300 - 40 * variant) < 60 && std::abs(y - 500) < 60;
            if (noisy) seed = seed * 1664525u + 1013904223u;
            p[0] = static_cast<std::uint8_t>(noisy ? seed >> 24 : (x * 255) / width);
            p[1] = static_cast<std::uint8_t>(block ? 250 : (y * 255) / height);
            p[2] = static_cast<std::uint8_t>((x / 160) % 2 ? 200 : 40 + (x ^ y) % 16);
            p[3] = 255;
        }
    }
    return bgra;
}

struct Decoded {
    std::vector<Bytes> luma;  // one plane per frame, width × height
    std::string error;
};

// Decodes length-prefixed frames as strictly as libavcodec can.
Decoded decodeAll(const Bytes& sps, const Bytes& pps, const std::vector<Bytes>& frames)
{
    Decoded out;
    const AVCodec* h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* c = avcodec_alloc_context3(h264);
    c->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_CAREFUL | AV_EF_COMPLIANT;
    c->thread_count = 1;
    if (avcodec_open2(c, h264, nullptr) < 0) return {{}, "no decoder"};
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto send = [&](Bytes annexB) {
        av_new_packet(packet, static_cast<int>(annexB.size()));
        std::copy(annexB.begin(), annexB.end(), packet->data);
        if (avcodec_send_packet(c, annexB.empty() ? nullptr : packet) < 0) out.error = "rejected a packet";
        av_packet_unref(packet);
        while (avcodec_receive_frame(c, frame) == 0) {
            if (frame->decode_error_flags) out.error = "decode error flags";
            Bytes plane(std::size_t(width) * height);
            for (int y = 0; y < height; ++y)
                std::copy_n(frame->data[0] + y * frame->linesize[0], width, &plane[y * width]);
            out.luma.push_back(std::move(plane));
        }
    };
    const Bytes startCode{0, 0, 0, 1};
    Bytes headers = startCode;
    headers.insert(headers.end(), sps.begin(), sps.end());
    headers.insert(headers.end(), startCode.begin(), startCode.end());
    headers.insert(headers.end(), pps.begin(), pps.end());
    for (std::size_t i = 0; i < frames.size() && out.error.empty(); ++i) {
        Bytes annexB = i == 0 ? headers : Bytes{};
        for (std::size_t at = 0; at + 4 <= frames[i].size();) {
            const std::size_t length = (std::size_t(frames[i][at]) << 24) | (frames[i][at + 1] << 16) |
                                       (frames[i][at + 2] << 8) | frames[i][at + 3];
            annexB.insert(annexB.end(), startCode.begin(), startCode.end());
            annexB.insert(annexB.end(), frames[i].begin() + at + 4, frames[i].begin() + at + 4 + length);
            at += 4 + length;
        }
        send(annexB);
    }
    send({});
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&c);
    return out;
}

double psnr(const Bytes& luma, const Bytes& bgra)
{
    double squared = 0;
    for (std::size_t i = 0; i < luma.size(); ++i) {
        const double y = 16 + 219 * (0.2126 * bgra[4 * i + 2] + 0.7152 * bgra[4 * i + 1] + 0.0722 * bgra[4 * i]) / 255;
        squared += (luma[i] - y) * (luma[i] - y);
    }
    return 10 * std::log10(255.0 * 255.0 / (squared / double(luma.size())));
}

struct Stream {
    Bytes sps, pps;
    std::vector<Bytes> frames;
    std::vector<int> pictureOf;  // which picture each frame shows
};

// Five key-frame groups of a still that changes for a moment in the second
// and in the fifth, and a sixth group's key frame.
constexpr std::int64_t stillFrames = 240;
bool showsSecond(std::int64_t n) { return (n >= 70 && n < 74) || (n >= 200 && n < 204); }

Stream encodeStill(bool copyUnchanged, bool noisy)
{
    H264Encoder::Settings settings;
    settings.copyUnchanged = copyUnchanged;
    auto created = H264Encoder::create(settings);
    auto& encoder = std::get<std::unique_ptr<H264Encoder>>(created);
    Stream stream{encoder->sps(), encoder->pps(), {}, {}};
    const Bytes first = picture(0, noisy), second = picture(1, noisy);
    for (std::int64_t n = 0; n < stillFrames; ++n) {
        const int shown = showsSecond(n) ? 1 : 0;
        const bool same = n > 0 && showsSecond(n) == showsSecond(n - 1);
        auto result = encoder->encode(shown ? second : first, n, n == 0 || (n + 1) % 48 == 0, same);
        const auto& frames = std::get<std::vector<H264Encoder::Frame>>(result);
        EXPECT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames.at(0).pts, n);
        stream.frames.push_back(frames.at(0).data);
        stream.pictureOf.push_back(shown);
    }
    return stream;
}

}  // namespace

TEST(H264CopyFrames, StillDecodesStrictlyNumberedAndAsSharpAsLibx264Alone)
{
    // A picture libx264 settles on, and noise it keeps refining in bursts
    // between frames of nothing.
    for (const bool noisy : {false, true}) {
        SCOPED_TRACE(noisy ? "noise" : "gradients");
        const Stream plain = encodeStill(false, noisy), copied = encodeStill(true, noisy);
        const auto layout = skipSliceLayout(copied.sps, copied.pps);
        ASSERT_TRUE(layout);
        const Decoded fromPlain = decodeAll(plain.sps, plain.pps, plain.frames);
        const Decoded fromCopied = decodeAll(copied.sps, copied.pps, copied.frames);
        ASSERT_EQ(fromCopied.error, "");
        ASSERT_EQ(fromCopied.luma.size(), copied.frames.size());
        ASSERT_EQ(fromPlain.luma.size(), plain.frames.size());

        const Bytes pictures[2] = {picture(0, noisy), picture(1, noisy)};
        auto firstSlice = [](const Bytes& data) {
            std::span<const std::uint8_t> nal(data);
            while (nal.size() > 5 && (nal[4] & 0x1F) != 1 && (nal[4] & 0x1F) != 5) {
                nal = nal.subspan(4 + ((std::size_t(nal[0]) << 24) | (nal[1] << 16) | (nal[2] << 8) | nal[3]));
            }
            return nal.subspan(4, ((std::size_t(nal[0]) << 24) | (nal[1] << 16) | (nal[2] << 8) | nal[3]));
        };
        unsigned expectedFrameNum = 0, copies = 0;
        std::optional<unsigned> lastIdrPicId;
        for (std::size_t n = 0; n < copied.frames.size(); ++n) {
            const auto nal = firstSlice(copied.frames[n]);
            const bool key = (nal[0] & 0x1F) == 5;
            // The group of frames 95 to 142 shows an unchanged picture that
            // was shown before it, and is sent again from 143 and 191; the
            // new picture at 200 ends that with a key frame of its own.
            EXPECT_EQ(key, n == 0 || (n + 1) % 48 == 0 || n == 200) << n;
            if (key) {
                expectedFrameNum = 0;
                const auto id = sliceIdrPicId(nal, *layout);
                ASSERT_TRUE(id) << n;
                EXPECT_NE(id, lastIdrPicId) << "two key frames in a row with one idr_pic_id, frame " << n;
                lastIdrPicId = id;
            }
            if (n >= 144 && n < 191) {
                EXPECT_EQ(copied.frames[n], copied.frames[n - 48]) << n;
            }
            EXPECT_NE(nal[0] & 0x60, 0) << "every picture a reference, frame " << n;
            EXPECT_EQ(sliceFrameNum(nal, *layout), expectedFrameNum % layout->maxFrameNum()) << n;
            ++expectedFrameNum;
            const bool copy = Bytes(nal.begin(), nal.end()) == skipSlice(*layout, *sliceFrameNum(nal, *layout));
            if (copy) {
                ++copies;
                EXPECT_EQ(fromCopied.luma[n], fromCopied.luma[n - 1]) << n;
            }
            const double ours = psnr(fromCopied.luma[n], pictures[copied.pictureOf[n]]);
            const double alone = psnr(fromPlain.luma[n], pictures[plain.pictureOf[n]]);
            // The key frame a new picture costs during a replay leaves fewer
            // bits for the rest of that group: noise, which libx264 refines
            // at every frame, shows it.
            const bool afterExtraKeyFrame = n >= 200 && n < 239;
            EXPECT_GE(ours, alone - (afterExtraKeyFrame ? 1.5 : 0.5)) << n;
        }
        // Noise is never still long enough for copies; the gradients are.
        EXPECT_EQ(copies != 0, !noisy);
    }
}
