#include "platform/codec/resampler.h"

#include "platform/codec/codec_failure.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace ondaline::platform {

struct Resampler::Context {
    SwrContext* swr = nullptr;
    ~Context() { swr_free(&swr); }
};

std::unique_ptr<Resampler> Resampler::create(int inputRate, int outputRate, int channels)
{
    if (inputRate < 1 || outputRate < 1 || channels < 1) return nullptr;
    auto context = std::make_unique<Context>();
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    const int status = swr_alloc_set_opts2(&context->swr, &layout, AV_SAMPLE_FMT_FLT, outputRate, &layout,
                                           AV_SAMPLE_FMT_FLT, inputRate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (status < 0 || swr_init(context->swr) < 0) return nullptr;
    return std::unique_ptr<Resampler>(new Resampler(std::move(context), inputRate, outputRate, channels));
}

Resampler::Resampler(std::unique_ptr<Context> context, int inputRate, int outputRate, int channels)
    : context_(std::move(context)), inputRate_(inputRate), outputRate_(outputRate), channels_(channels)
{
}

Resampler::~Resampler() = default;

Resampler::Conversion Resampler::convert(std::span<const float> interleaved)
{
    const int inputFrames = static_cast<int>(interleaved.size() / static_cast<std::size_t>(channels_));
    const int capacity = swr_get_out_samples(context_->swr, inputFrames);
    if (capacity < 0) return {{}, describeAVError(capacity)};
    if (capacity == 0) return {};
    std::vector<float> out(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(channels_));
    auto* outPlane = reinterpret_cast<std::uint8_t*>(out.data());
    const auto* inPlane = reinterpret_cast<const std::uint8_t*>(interleaved.data());
    const int produced = swr_convert(context_->swr, &outPlane, capacity, &inPlane, inputFrames);
    if (produced < 0) return {{}, describeAVError(produced)};
    out.resize(static_cast<std::size_t>(produced) * static_cast<std::size_t>(channels_));
    return {std::move(out), std::nullopt};
}

}  // namespace ondaline::platform
