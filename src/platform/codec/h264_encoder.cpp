#include "platform/codec/h264_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace ondaline::platform {

struct H264Encoder::Codec {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;

    ~Codec()
    {
        sws_freeContext(scaler);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::vector<std::span<const std::uint8_t>> splitAnnexB(std::span<const std::uint8_t> stream)
{
    std::vector<std::span<const std::uint8_t>> units;
    std::size_t i = 0, start = std::string::npos;
    auto startCodeAt = [&](std::size_t at) -> std::size_t {  // length of the start code at `at`, or 0
        if (at + 3 <= stream.size() && stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 1) return 3;
        if (at + 4 <= stream.size() && stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 0 && stream[at + 3] == 1) {
            return 4;
        }
        return 0;
    };
    while (i < stream.size()) {
        if (const std::size_t code = startCodeAt(i)) {
            if (start != std::string::npos && i > start) units.push_back(stream.subspan(start, i - start));
            i += code;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != std::string::npos && start < stream.size()) units.push_back(stream.subspan(start));
    return units;
}

std::variant<std::unique_ptr<H264Encoder>, H264Encoder::Failure> H264Encoder::create(const Settings& settings)
{
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    if (!x264) return Failure{AVERROR_ENCODER_NOT_FOUND, "no libx264 in libavcodec"};
    auto codec = std::make_unique<Codec>();
    codec->context = avcodec_alloc_context3(x264);
    codec->frame = av_frame_alloc();
    codec->packet = av_packet_alloc();
    if (!codec->context || !codec->frame || !codec->packet) return Failure{AVERROR(ENOMEM), "out of memory"};

    AVCodecContext* c = codec->context;
    c->width = settings.width;
    c->height = settings.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{settings.frameRateDen, settings.frameRateNum};
    c->framerate = AVRational{settings.frameRateNum, settings.frameRateDen};
    c->bit_rate = settings.averageBitrate;
    c->rc_max_rate = settings.maxBitrate;
    c->rc_buffer_size = static_cast<int>(settings.maxBitrate);  // the limit holds over one second
    c->gop_size = 48;
    c->max_b_frames = 0;
    c->profile = FF_PROFILE_H264_MAIN;
    c->level = 31;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "forced-idr", "1", 0);
    // Key frames only where the caller forces them: no scene cuts, and the
    // encoder's own interval past ours.
    av_opt_set(c->priv_data, "x264-params", "scenecut=0:keyint=1000:min-keyint=1000", 0);
    if (const int status = avcodec_open2(c, x264, nullptr); status < 0) return Failure{status, "cannot open libx264"};

    AVFrame* f = codec->frame;
    f->format = AV_PIX_FMT_YUV420P;
    f->width = settings.width;
    f->height = settings.height;
    if (const int status = av_frame_get_buffer(f, 0); status < 0) return Failure{status, "no frame buffer"};
    codec->scaler = sws_getContext(settings.width, settings.height, AV_PIX_FMT_BGRA, settings.width, settings.height,
                                   AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!codec->scaler) return Failure{-1, "no BGRA to I420 converter"};
    // BT.709 coefficients into limited range.
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(codec->scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1, coefficients, 0, 0, 1 << 16, 1 << 16);

    auto encoder = std::unique_ptr<H264Encoder>(new H264Encoder(std::move(codec), settings));
    const AVCodecContext* opened = encoder->codec_->context;
    for (const auto unit : splitAnnexB({opened->extradata, static_cast<std::size_t>(opened->extradata_size)})) {
        if (unit.empty()) continue;
        if ((unit[0] & 0x1F) == 7) encoder->sps_.assign(unit.begin(), unit.end());
        if ((unit[0] & 0x1F) == 8) encoder->pps_.assign(unit.begin(), unit.end());
    }
    if (encoder->sps_.size() < 4 || encoder->pps_.empty()) return Failure{-1, "no parameter sets from libx264"};
    return encoder;
}

H264Encoder::H264Encoder(std::unique_ptr<Codec> codec, Settings settings)
    : codec_(std::move(codec)), settings_(settings)
{
}

H264Encoder::~H264Encoder() = default;

std::variant<std::vector<H264Encoder::Frame>, int> H264Encoder::encode(std::span<const std::uint8_t> bgra,
                                                                        std::int64_t pts, bool forceKeyFrame,
                                                                        bool samePicture)
{
    const std::size_t expected = static_cast<std::size_t>(settings_.width) * settings_.height * 4;
    if (bgra.size() != expected) return AVERROR(EINVAL);
    AVFrame* frame = codec_->frame;
    if (const int status = av_frame_make_writable(frame); status < 0) return status;
    if (!samePicture || !converted_) {  // making the frame writable keeps its content
        const std::uint8_t* source[] = {bgra.data()};
        const int stride[] = {settings_.width * 4};
        sws_scale(codec_->scaler, source, stride, 0, settings_.height, frame->data, frame->linesize);
        converted_ = true;
    }
    frame->pts = pts;
    frame->pict_type = forceKeyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (const int status = avcodec_send_frame(codec_->context, frame); status < 0) return status;

    std::vector<Frame> frames;
    for (;;) {
        const int status = avcodec_receive_packet(codec_->context, codec_->packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) break;
        if (status < 0) return status;
        Frame out;
        out.keyFrame = (codec_->packet->flags & AV_PKT_FLAG_KEY) != 0;
        out.pts = codec_->packet->pts;
        for (const auto unit : splitAnnexB({codec_->packet->data, static_cast<std::size_t>(codec_->packet->size)})) {
            const auto length = static_cast<std::uint32_t>(unit.size());
            for (int shift = 24; shift >= 0; shift -= 8) out.data.push_back(static_cast<std::uint8_t>(length >> shift));
            out.data.insert(out.data.end(), unit.begin(), unit.end());
        }
        av_packet_unref(codec_->packet);
        frames.push_back(std::move(out));
    }
    return frames;
}

}  // namespace ondaline::platform
