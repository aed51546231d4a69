#include "platform/audio/audio_file_reader.h"

#include "platform/file_rights/files.h"

#include "platform/codec/codec_failure.h"
#include "platform/codec/library_log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <deque>
#include <vector>

namespace ondaline::platform {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct SwrFreer {
    void operator()(SwrContext* c) const { swr_free(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

}  // namespace

struct AudioFileReader::Decoder {
    std::unique_ptr<AVFormatContext, FormatCloser> format;
    std::unique_ptr<AVCodecContext, CodecFreer> codec;
    std::unique_ptr<SwrContext, SwrFreer> resampler;
    std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
    std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
    int streamIndex = -1;
    int sourceChannels = 0;
    // What the resampler was made for; a file may change it between frames.
    int inputFormat = -1;
    int inputRate = 0;
    AVChannelLayout inputLayout{};
    int convertedChannels = 0;  // 1 for mono sources, which are widened by hand
    bool inputEnded = false;    // the demuxer has nothing more
    bool flushed = false;       // the decoder and the resampler gave their tails
    std::vector<float> converted;
    std::deque<float> left, right;

    ~Decoder() { av_channel_layout_uninit(&inputLayout); }

    // Makes the resampler for this input. Mono stays one channel through it
    // and is then put on both sides at full level; wider layouts get its
    // stereo downmix.
    bool configure(int sampleFormat, int sampleRate, const AVChannelLayout& layout)
    {
        av_channel_layout_uninit(&inputLayout);
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy(&inputLayout, &layout) < 0) {
            av_channel_layout_default(&inputLayout, layout.nb_channels);
        }
        inputFormat = sampleFormat;
        inputRate = sampleRate;
        sourceChannels = layout.nb_channels;
        convertedChannels = sourceChannels == 1 ? 1 : outputChannels;
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, convertedChannels);
        SwrContext* made = nullptr;
        const int status = swr_alloc_set_opts2(&made, &outLayout, AV_SAMPLE_FMT_FLT, outputRate, &inputLayout,
                                               static_cast<AVSampleFormat>(sampleFormat), sampleRate, 0, nullptr);
        resampler.reset(made);
        return status >= 0 && sourceChannels >= 1 && sampleRate > 0 && swr_init(made) >= 0;
    }

    // A frame unlike the ones before (FLAC may change its channels or depth
    // from frame to frame): the old resampler gives its tail, a new one
    // takes over. False when the new format cannot be converted.
    bool follow(const AVFrame& decoded)
    {
        if (decoded.format == inputFormat && decoded.sample_rate == inputRate &&
            av_channel_layout_compare(&decoded.ch_layout, &inputLayout) == 0) {
            return true;
        }
        convert(nullptr, 0);
        return configure(decoded.format, decoded.sample_rate, decoded.ch_layout);
    }

    // Decodes until at least `wanted` frames wait, or the file ends.
    void fill(std::size_t wanted)
    {
        while (left.size() < wanted && !flushed) {
            const int received = avcodec_receive_frame(codec.get(), frame.get());
            if (received == 0 && !follow(*frame)) {
                av_frame_unref(frame.get());
                flushed = true;  // what cannot be converted ends the file
            } else if (received == 0) {
                convert(const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
                av_frame_unref(frame.get());
            } else if (received == AVERROR(EAGAIN) && !inputEnded) {
                feed();
            } else {
                convert(nullptr, 0);  // the resampler's tail
                flushed = true;
            }
        }
    }

    void feed()
    {
        for (;;) {
            if (av_read_frame(format.get(), packet.get()) < 0) {
                inputEnded = true;
                avcodec_send_packet(codec.get(), nullptr);  // drains the decoder
                return;
            }
            const bool ours = packet->stream_index == streamIndex;
            const int sent = ours ? avcodec_send_packet(codec.get(), packet.get()) : 0;
            av_packet_unref(packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
                inputEnded = true;  // a decoder failure ends the file here
                avcodec_send_packet(codec.get(), nullptr);
                return;
            }
            if (ours) return;
        }
    }

    void convert(const std::uint8_t** input, int inputFrames)
    {
        const int room = swr_get_out_samples(resampler.get(), inputFrames);
        if (room <= 0) return;
        converted.resize(static_cast<std::size_t>(room) * static_cast<std::size_t>(convertedChannels));
        auto* out = reinterpret_cast<std::uint8_t*>(converted.data());
        const int frames = swr_convert(resampler.get(), &out, room, input, inputFrames);
        for (int i = 0; i < frames; ++i) {
            const auto at = static_cast<std::size_t>(i) * static_cast<std::size_t>(convertedChannels);
            left.push_back(converted[at]);
            right.push_back(converted[at + static_cast<std::size_t>(convertedChannels) - 1]);
        }
    }
};

std::unique_ptr<AudioFileReader> AudioFileReader::open(const std::string& path, std::string& error,
                                                       const NamedFileRules& rules)
{
    // The demuxer would wait for ever on a FIFO named like a song, and would
    // follow any link by that name: it is handed the file already opened.
    FileDescriptor file;
    if (const FileRead check = openNamedFile(path, rules, file); check.problem != FileProblem::none) {
        error = check.reason();
        return nullptr;
    }
    const std::string opened = "file:/proc/self/fd/" + std::to_string(file.get());
    routeLibraryLog();
    auto decoder = std::make_unique<Decoder>();
    AVFormatContext* format = nullptr;
    if (const int status = avformat_open_input(&format, opened.c_str(), nullptr, nullptr); status < 0) {
        error = describeAVError(status);
        return nullptr;
    }
    decoder->format.reset(format);
    if (const int status = avformat_find_stream_info(format, nullptr); status < 0) {
        error = describeAVError(status);
        return nullptr;
    }
    const AVCodec* codec = nullptr;
    decoder->streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (decoder->streamIndex < 0 || !codec) {
        error = "no audio stream";
        return nullptr;
    }
    decoder->codec.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder->codec.get(), format->streams[decoder->streamIndex]->codecpar);
    if (const int status = avcodec_open2(decoder->codec.get(), codec, nullptr); status < 0) {
        error = describeAVError(status);
        return nullptr;
    }
    AVCodecContext* context = decoder->codec.get();
    if (context->ch_layout.nb_channels < 1 || context->sample_rate <= 0) {
        error = "no channels or no sample rate";
        return nullptr;
    }

    if (!decoder->configure(context->sample_fmt, context->sample_rate, context->ch_layout)) {
        error = "cannot convert this format";
        return nullptr;
    }
    return std::unique_ptr<AudioFileReader>(new AudioFileReader(std::move(decoder)));
}

AudioFileReader::AudioFileReader(std::unique_ptr<Decoder> decoder) : decoder_(std::move(decoder)) {}

AudioFileReader::~AudioFileReader() = default;

std::size_t AudioFileReader::read(float* left, float* right, std::size_t frames)
{
    decoder_->fill(frames);
    const std::size_t n = std::min(frames, decoder_->left.size());
    std::copy_n(decoder_->left.begin(), n, left);
    std::copy_n(decoder_->right.begin(), n, right);
    decoder_->left.erase(decoder_->left.begin(), decoder_->left.begin() + static_cast<std::ptrdiff_t>(n));
    decoder_->right.erase(decoder_->right.begin(), decoder_->right.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

int AudioFileReader::fileSampleRate() const { return decoder_->codec->sample_rate; }

int AudioFileReader::fileChannels() const { return decoder_->sourceChannels; }

}  // namespace ondaline::platform
