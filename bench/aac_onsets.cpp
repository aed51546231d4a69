#include "aac_onsets.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace ondaline::bench {

namespace {

struct Decoder {
    AVCodecContext* context = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();

    ~Decoder()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
};

// The first sample of the frame louder than `threshold`, or -1.
int firstLoudSample(const AVFrame& frame, float threshold)
{
    int first = -1;
    for (int channel = 0; channel < frame.ch_layout.nb_channels; ++channel) {
        const auto* samples = reinterpret_cast<const float*>(frame.extended_data[channel]);
        const int end = first < 0 ? frame.nb_samples : first;
        for (int i = 0; i < end; ++i) {
            if (std::fabs(samples[i]) > threshold) {
                first = i;
                break;
            }
        }
    }
    return first;
}

}  // namespace

std::vector<Onset> findOnsets(const std::vector<Bytes>& packets, const Bytes& asc, float threshold)
{
    Decoder decoder;
    const AVCodec* aac = avcodec_find_decoder(AV_CODEC_ID_AAC);
    decoder.context = aac ? avcodec_alloc_context3(aac) : nullptr;
    if (!decoder.context || !decoder.packet || !decoder.frame) throw std::runtime_error("no AAC decoder");
    if (!asc.empty()) {
        decoder.context->extradata = static_cast<std::uint8_t*>(av_mallocz(asc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(decoder.context->extradata, asc.data(), asc.size());
        decoder.context->extradata_size = static_cast<int>(asc.size());
    }
    if (avcodec_open2(decoder.context, aac, nullptr) < 0) throw std::runtime_error("cannot open the AAC decoder");
    if (decoder.context->sample_fmt != AV_SAMPLE_FMT_FLTP)
        throw std::runtime_error("AAC decoder gives no planar float");

    std::vector<Onset> onsets;
    bool quietBefore = true;
    std::size_t decoded = 0;
    for (std::size_t index = 0; index < packets.size(); ++index) {
        const Bytes& bytes = packets[index];
        if (av_new_packet(decoder.packet, static_cast<int>(bytes.size())) < 0)
            throw std::runtime_error("out of memory");
        std::memcpy(decoder.packet->data, bytes.data(), bytes.size());
        const int sent = avcodec_send_packet(decoder.context, decoder.packet);
        av_packet_unref(decoder.packet);
        // One packet, one frame: a packet that does not decode counts as quiet.
        int loud = -1;
        if (sent >= 0 && avcodec_receive_frame(decoder.context, decoder.frame) >= 0) {
            ++decoded;
            loud = firstLoudSample(*decoder.frame, threshold);
            av_frame_unref(decoder.frame);
        }
        if (loud >= 0 && quietBefore) onsets.push_back({index, loud});
        quietBefore = loud < 0;
    }
    if (decoded == 0 && !packets.empty()) throw std::runtime_error("no AAC packet decoded");
    return onsets;
}

}  // namespace ondaline::bench
