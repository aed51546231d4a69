#include "media/audio_packet_loop.h"
#include "platform/codec/aac_encoder.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <numbers>

using namespace ondaline;

namespace {

std::vector<float> tone(std::size_t frames, int channels)
{
    std::vector<float> samples;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<float>(0.25 * std::sin(2 * std::numbers::pi * 440 * double(i) / 44100));
        for (int c = 0; c < channels; ++c) samples.push_back(v);
    }
    return samples;
}

// Our encoder wrapper: de-interleaving, the finite check and the packet copy
// on top of libavcodec's encode.
void BM_AACEncoderPerPacket(benchmark::State& state)
{
    auto created = platform::AACEncoder::create({44100, 2, 320000});
    auto& encoder = std::get<std::unique_ptr<platform::AACEncoder>>(created);
    const auto block = tone(1024, 2);
    for (auto _ : state) benchmark::DoNotOptimize(encoder->encode(block));
}
BENCHMARK(BM_AACEncoderPerPacket);

// libavcodec alone, fed a planar frame that is already filled.
void BM_LibavcodecEncodePerPacket(benchmark::State& state)
{
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    AVCodecContext* c = avcodec_alloc_context3(aac);
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = 44100;
    av_channel_layout_default(&c->ch_layout, 2);
    c->bit_rate = 320000;
    c->time_base = AVRational{1, 44100};
    avcodec_open2(c, aac, nullptr);
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->nb_samples = 1024;
    av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
    av_frame_get_buffer(frame, 0);
    const auto block = tone(1024, 1);
    for (int ch = 0; ch < 2; ++ch) std::copy(block.begin(), block.end(), reinterpret_cast<float*>(frame->data[ch]));
    AVPacket* packet = av_packet_alloc();
    std::int64_t pts = 0;
    for (auto _ : state) {
        frame->pts = pts;
        pts += 1024;
        avcodec_send_frame(c, frame);
        if (avcodec_receive_packet(c, packet) == 0) av_packet_unref(packet);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&c);
}
BENCHMARK(BM_LibavcodecEncodePerPacket);

// The whole packet loop per packet: cutting, encoding, stamping, the rules.
void BM_AudioPacketLoopPerPacket(benchmark::State& state)
{
    auto created = platform::AACEncoder::create({44100, 2, 320000});
    auto& encoder = std::get<std::unique_ptr<platform::AACEncoder>>(created);
    media::AudioPacketLoop loop;
    const media::AudioPacketLoop::Hooks hooks{
        .encode =
            [&](std::span<const float> s) {
                auto e = encoder->encode(s);
                return media::EncodedPacket{std::move(e.packet), e.status};
            },
        .send = [](const Bytes& packet, std::uint32_t) { benchmark::DoNotOptimize(packet.data()); },
        .log = [](const std::string&) {},
    };
    const auto block = tone(1024, 2);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
    for (auto _ : state) {
        Bytes pcm(bytes, bytes + block.size() * sizeof(float));
        loop.run(pcm, 2, 44100, hooks);
    }
}
BENCHMARK(BM_AudioPacketLoopPerPacket);

}  // namespace
