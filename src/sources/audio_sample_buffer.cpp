#include "sources/audio_sample_buffer.h"

#include <cstring>

namespace ondaline::sources {

AudioStreamDescription AudioStreamDescription::interleavedFloat(double sampleRate, std::uint32_t channels)
{
    return {sampleRate, flagIsFloat | flagIsPacked, channels * 4, channels, 32};
}

std::optional<std::pair<std::vector<float>, AudioStreamDescription>> AudioBufferConverter::extractPCMFloat32(
    const AudioSampleBuffer& buffer)
{
    if (!buffer.format || !buffer.data) return std::nullopt;
    std::vector<float> samples(buffer.data->size() / 4);
    std::memcpy(samples.data(), buffer.data->data(), samples.size() * sizeof(float));
    return std::make_pair(std::move(samples), *buffer.format);
}

std::optional<Bytes> AudioBufferConverter::extractRawData(const AudioSampleBuffer& buffer) { return buffer.data; }

}  // namespace ondaline::sources
