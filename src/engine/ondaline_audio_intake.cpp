// PCM from the sources: mapped to the stream's channels, converted to its
// rate when it comes at another, appended to the ring, and a drain
// scheduled. Producers never encode and never wait for the network.

#include "engine/ondaline.h"

#include "base/print.h"
#include "platform/codec/resampler.h"

#include <cmath>
#include <cstring>

namespace ondaline {

namespace {

// A warning that repeats (frames dropped, a failed conversion) is logged at
// most once per this many seconds.
constexpr double repeatLogInterval = 5.0;

}  // namespace

void Ondaline::sendAudioBuffer(const AudioBufferView& buffer)
{
    if (state() != StreamState::publishing || !buffer.planes) return;
    lastPCMReceivedTime_ = clock_->now();
    const std::uint32_t frames = buffer.frameCount, sources = buffer.channelCount;
    if (frames < 1 || sources == 0) return;

    // Output channel c takes source plane min(c, S − 1): mono feeds both
    // sides, extra planes are dropped.
    const std::uint32_t channels = streamFormat().channels;
    std::vector<float> interleaved(static_cast<std::size_t>(frames) * channels);
    for (std::uint32_t c = 0; c < channels; ++c) {
        const float* plane = buffer.planes[std::min(c, sources - 1)];
        for (std::uint32_t f = 0; f < frames; ++f) interleaved[static_cast<std::size_t>(f) * channels + c] = plane[f];
    }
    const std::size_t bytes = interleaved.size() * sizeof(float);
    appendPCM(std::move(interleaved), buffer.sampleRate);
    ++diagTapDeliveries_;
    diagPCMBytesReceived_ += bytes;
    diagLastTapTime_ = clock_->now();
}

void Ondaline::sendRawPCMData(ByteView data)
{
    const StreamFormat format = streamFormat();
    sendRawPCMData(data, format.sampleRate, format.channels);
}

void Ondaline::sendRawPCMData(ByteView data, double sampleRate, std::uint32_t channels)
{
    if (state() != StreamState::publishing || data.empty()) return;
    lastPCMReceivedTime_ = clock_->now();
    if (channels == 0) return;
    const std::size_t frames = data.size() / (sizeof(float) * channels);  // a torn last frame is dropped
    if (frames == 0) return;

    const std::uint32_t streamChannels = streamFormat().channels;
    std::vector<float> interleaved(frames * streamChannels);
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::uint32_t c = 0; c < streamChannels; ++c) {
            const std::size_t source = f * channels + std::min(c, channels - 1);
            std::memcpy(&interleaved[f * streamChannels + c], data.data() + source * sizeof(float), sizeof(float));
        }
    }
    appendPCM(std::move(interleaved), sampleRate);
}

void Ondaline::appendPCM(std::vector<float> interleaved, double sampleRate)
{
    const StreamFormat format = streamFormat();
    const bool facebook = streamMode() == StreamMode::facebook;
    std::vector<std::string> lines;  // printed once the lock is let go

    // Converting and appending under one lock keeps the blocks of two
    // producers in the order they were converted.
    const auto convertAndAppend = [&] {
        std::lock_guard lock(resamplerLock_);
        const int from = static_cast<int>(std::lround(sampleRate));
        const int to = static_cast<int>(std::lround(format.sampleRate));
        if (sampleRate > 0 && from != to) {
            if (!resampler_ || resampler_->inputRate() != from || resampler_->outputRate() != to ||
                resampler_->channels() != static_cast<int>(format.channels)) {
                const std::string which = facebook ? "Facebook resampler" : "Resampler";
                resampler_ = platform::Resampler::create(from, to, static_cast<int>(format.channels));
                if (!resampler_) {
                    lines.push_back("Ondaline: ⚠ " + which + " init failed");
                    return false;  // never reinterpreted at the wrong rate
                }
                lines.push_back("Ondaline: ✅ " + which + " ready — " + std::to_string(from) + "Hz → " +
                                std::to_string(to) + "Hz");
            }
            auto converted = resampler_->convert(interleaved);
            if (converted.error) {
                if (clock_->now() - lastResampleErrorLogTime_ >= repeatLogInterval) {
                    lastResampleErrorLogTime_ = clock_->now();
                    const std::string reason = converted.error->empty() ? "unknown" : *converted.error;
                    lines.push_back((facebook ? "Ondaline: ⚠ Facebook resample error: "
                                              : "Ondaline: ⚠ Resampler error: ") +
                                    reason);
                }
                return false;  // dropped, as at the wrong rate it would play at the wrong pitch
            }
            interleaved = std::move(converted.interleaved);
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(interleaved.data());
        const std::size_t dropped = pcmRing_.append(ByteView(bytes, interleaved.size() * sizeof(float)));
        if (dropped > 0 && clock_->now() - lastDropLogTime_ >= repeatLogInterval) {
            lastDropLogTime_ = clock_->now();
            lines.push_back("Ondaline: ⚠ PCM arriving faster than it is encoded — dropped " + std::to_string(dropped) +
                            " oldest frames");
        }
        return true;
    };
    const bool appended = convertAndAppend();
    for (const auto& line : lines) print(line);
    if (appended) scheduleDrain();
}

void Ondaline::discardPendingAudio() { pcmRing_.clear(); }

void Ondaline::scheduleDrain()
{
    encoderQueue_.async([weakSelf = weak_from_this()] {
        if (const auto self = weakSelf.lock()) self->drainEncoder();
    });
}

}  // namespace ondaline
