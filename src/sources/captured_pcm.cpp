#include "sources/captured_pcm.h"

#include <cmath>

namespace ondaline::sources {

namespace {

float rms(const std::vector<float>& interleaved, std::size_t frames, std::uint32_t channels, std::uint32_t channel)
{
    double sum = 0;  // in double: samples far out of range would overflow a float sum
    for (std::size_t f = 0; f < frames; ++f) {
        const double sample = interleaved[f * channels + channel];
        sum += sample * sample;
    }
    return static_cast<float>(std::sqrt(sum / static_cast<double>(frames)));
}

}  // namespace

std::optional<CapturedPCM> capturedPCM(const AudioSampleBuffer& buffer)
{
    // Not even one sample: nothing to read (the converter would copy from nowhere).
    if (!buffer.data || buffer.data->size() < sizeof(float)) return std::nullopt;
    auto extracted = AudioBufferConverter::extractPCMFloat32(buffer);
    if (!extracted) return std::nullopt;
    auto& [samples, format] = *extracted;
    const std::uint32_t channels = format.channelsPerFrame;
    if (channels == 0) return std::nullopt;
    const std::size_t frames = samples.size() / channels;
    if (frames < 1) return std::nullopt;

    CapturedPCM pcm;
    pcm.sampleRate = format.sampleRate;
    pcm.channels = channels;
    pcm.frames = frames;
    if (format.isNonInterleaved() && channels > 1) {
        pcm.interleaved.assign(frames * channels, 0.0f);
        for (std::size_t f = 0; f < frames; ++f) {
            pcm.interleaved[f * channels] = samples[f];
            pcm.interleaved[f * channels + 1] = samples[frames + f];
        }
    } else {
        samples.resize(frames * channels);  // a torn last frame is not sent
        pcm.interleaved = std::move(samples);
    }

    const float left = rms(pcm.interleaved, frames, channels, 0);
    pcm.levels = {left, channels >= 2 ? rms(pcm.interleaved, frames, channels, 1) : left};

    if (frames >= CapturedPCM::spectrumMinFrames) {
        pcm.spectrumInput.resize(frames);
        for (std::size_t f = 0; f < frames; ++f) pcm.spectrumInput[f] = pcm.interleaved[f * channels];
    }
    return pcm;
}

}  // namespace ondaline::sources
