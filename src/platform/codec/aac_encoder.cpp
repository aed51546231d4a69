#include "platform/codec/aac_encoder.h"

#include "platform/codec/library_log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>

namespace ondaline::platform {

struct AACEncoder::Codec {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    std::int64_t pts = 0;

    ~Codec()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::variant<std::unique_ptr<AACEncoder>, AACEncoder::Failure> AACEncoder::create(const Settings& settings)
{
    // AAC's channel configurations name 1 to 6 and 8 channels; 7 would be
    // signalled as 8.
    if (settings.channels < 1 || settings.channels > 8 || settings.channels == 7) {
        return Failure{-1, std::to_string(settings.channels) + " channels cannot be carried in AAC"};
    }
    if (settings.sampleRate < 1) return Failure{-1, "sample rate " + std::to_string(settings.sampleRate) + " Hz"};

    routeLibraryLog();
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    if (!aac) return Failure{AVERROR_ENCODER_NOT_FOUND, "no AAC encoder in libavcodec"};

    auto codec = std::make_unique<Codec>();
    codec->context = avcodec_alloc_context3(aac);
    codec->frame = av_frame_alloc();
    codec->packet = av_packet_alloc();
    if (!codec->context || !codec->frame || !codec->packet) return Failure{AVERROR(ENOMEM), "out of memory"};

    AVCodecContext* c = codec->context;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = settings.sampleRate;
    av_channel_layout_default(&c->ch_layout, settings.channels);
    c->bit_rate = settings.bitrate;
    c->profile = FF_PROFILE_AAC_LOW;
    c->time_base = AVRational{1, settings.sampleRate};
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // extradata becomes the AudioSpecificConfig
    // From 160 kbit/s a channel the quick quantiser search keeps what the
    // default one keeps (bandwidth, band levels, pitch) for half the CPU or
    // less; below that the default search keeps more highs. Intensity stereo
    // stays off: it folds wide highs into one channel.
    if (settings.bitrate >= quickSearchBitratePerChannel * settings.channels) {
        av_opt_set(c->priv_data, "aac_coder", "fast", 0);
        av_opt_set_int(c->priv_data, "aac_is", 0, 0);
    }
    if (const int status = avcodec_open2(c, aac, nullptr); status < 0) return Failure{status, describeAVError(status)};

    AVFrame* f = codec->frame;
    f->format = AV_SAMPLE_FMT_FLTP;
    f->nb_samples = framesPerPacket;
    f->sample_rate = settings.sampleRate;
    av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
    if (const int status = av_frame_get_buffer(f, 0); status < 0) return Failure{status, describeAVError(status)};

    std::vector<std::uint8_t> asc(c->extradata, c->extradata + c->extradata_size);
    return std::unique_ptr<AACEncoder>(new AACEncoder(settings, std::move(codec), std::move(asc)));
}

AACEncoder::AACEncoder(Settings settings, std::unique_ptr<Codec> codec, std::vector<std::uint8_t> asc)
    : settings_(settings), codec_(std::move(codec)), asc_(std::move(asc))
{
}

AACEncoder::~AACEncoder() = default;

float AACEncoder::cleanSample(float sample)
{
    if (std::isnan(sample)) return 0.0f;
    return std::clamp(sample, -maxSampleMagnitude, maxSampleMagnitude);
}

AACEncoder::Encoded AACEncoder::encode(std::span<const float> interleaved)
{
    const int channels = settings_.channels;
    if (interleaved.size() != static_cast<std::size_t>(framesPerPacket * channels)) return {{}, AVERROR(EINVAL)};

    AVFrame* frame = codec_->frame;
    if (const int status = av_frame_make_writable(frame); status < 0) return {{}, status};
    for (int ch = 0; ch < channels; ++ch) {
        auto* plane = reinterpret_cast<float*>(frame->extended_data[ch]);
        for (int i = 0; i < framesPerPacket; ++i) {
            plane[i] = cleanSample(interleaved[static_cast<std::size_t>(i * channels + ch)]);
        }
    }
    frame->pts = codec_->pts;
    codec_->pts += framesPerPacket;

    if (const int status = avcodec_send_frame(codec_->context, frame); status < 0) return {{}, status};
    Encoded result;
    const int status = avcodec_receive_packet(codec_->context, codec_->packet);
    if (status == AVERROR(EAGAIN)) return result;  // held back
    if (status < 0) return {{}, status};
    result.packet.assign(codec_->packet->data, codec_->packet->data + codec_->packet->size);
    av_packet_unref(codec_->packet);
    return result;
}

}  // namespace ondaline::platform
