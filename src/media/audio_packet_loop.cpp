#include "media/audio_packet_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace ondaline::media {

namespace {

// 1, 10, 100, …: an encoder that keeps failing is logged, not flooded.
bool worthLogging(std::uint64_t count)
{
    while (count >= 10 && count % 10 == 0) count /= 10;
    return count == 1;
}

bool quiet(std::span<const float> samples)
{
    for (const float sample : samples) {
        if (!(std::fabs(sample) <= silencePeak)) return false;  // NaN is not silence either
    }
    return true;
}

}  // namespace

void AudioPacketLoop::reset()
{
    encoderSampleCount = 0;
    consecutiveSilenceFrames = 0;
    quietBlocks = blocksAPacketReaches;
    encodeFailures = 0;
    carrierOnAir = false;
    audioPacketsSent = 0;
    framesTaken = 0;
    remainderBytes = 0;
}

void AudioPacketLoop::insertSilence(Bytes& pcm, std::uint64_t frames, std::uint32_t channels) const
{
    const auto at = static_cast<std::ptrdiff_t>(std::min(remainderBytes, pcm.size()));
    pcm.insert(pcm.begin() + at, static_cast<std::size_t>(frames) * channels * sizeof(float), 0);
}

void AudioPacketLoop::run(Bytes& pcm, std::uint32_t channels, double sampleRate, const Hooks& hooks)
{
    if (channels == 0 || !(sampleRate >= 1)) return;
    const std::size_t packetBytes = framesPerPacket * channels * sizeof(float);
    std::vector<float> samples(framesPerPacket * channels);
    std::size_t offset = 0;
    while (pcm.size() - offset >= packetBytes) {
        std::memcpy(samples.data(), pcm.data() + offset, packetBytes);
        offset += packetBytes;
        framesTaken += framesPerPacket;
        quietBlocks = quiet(samples) ? std::min(quietBlocks + 1, blocksAPacketReaches) : 0;
        handle(hooks.encode(samples), quietBlocks == blocksAPacketReaches, sampleRate, hooks);
    }
    pcm.erase(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(offset));
    remainderBytes = pcm.size();
}

void AudioPacketLoop::handle(const EncodedPacket& encoded, bool pcmQuiet, double sampleRate, const Hooks& hooks)
{
    if (encoded.packet.empty()) {
        if (encoded.status != 0) {
            ++encodeFailures;
            if (audioPacketsSent == 0 && encodeFailures == 1) {
                hooks.log("Ondaline: WARNING — AAC encoder returned nothing for first frame");
            }
            if (worthLogging(encodeFailures)) {
                hooks.log("Ondaline: AAC encode error: " + std::to_string(encoded.status) + " (" +
                          std::to_string(encodeFailures) + " so far)");
            }
            // The failed block keeps its slot on the timeline: the cached
            // silence goes out in its place, or, with none yet, the next
            // packet carries the time it would have had. Audio time never
            // falls behind the video's.
            const auto ts = static_cast<std::uint32_t>(encoderSampleCount * 1000 /
                                                       static_cast<std::uint64_t>(sampleRate));
            encoderSampleCount += framesPerPacket;
            if (cachedSilenceAAC && audioPacketsSent > 0) {
                hooks.send(*cachedSilenceAAC, ts);
                ++audioPacketsSent;
            }
        }
        return;  // held back: the packet comes with a later block
    }

    const auto rate = static_cast<std::uint64_t>(sampleRate);
    const auto ts = static_cast<std::uint32_t>(encoderSampleCount * 1000 / rate);
    encoderSampleCount += framesPerPacket;
    ++diagAACFramesProduced;
    const Bytes& packet = encoded.packet;

    if (packet.size() < shortPacketBytes && audioPacketsSent == 0) {
        hooks.log("Ondaline: Skipping encoder priming frame (" + std::to_string(packet.size()) + " bytes) over RTMP");
        encoderSampleCount = 0;
        ++audioPacketsSent;
        return;
    }

    const Bytes* toSend = &packet;
    if (packet.size() >= shortPacketBytes || !pcmQuiet) {
        if (consecutiveSilenceFrames > 0) {
            if (!carrierOnAir) {
                hooks.log("Ondaline: 🔊 Real audio resumed after " + std::to_string(consecutiveSilenceFrames) +
                          " silence frames at ts=" + std::to_string(ts) + "ms");
            }
            consecutiveSilenceFrames = 0;
        }
    } else {
        // Near-empty, and the encoder heard silence. The cached packet (or, with
        // none, the encoder's own) goes out, for as long as the silence lasts.
        const std::int64_t n = ++consecutiveSilenceFrames;
        if (cachedSilenceAAC) {
            toSend = &*cachedSilenceAAC;
            if (n <= 3 || n == silenceSubstitutionCap) {
                hooks.log("Ondaline: 🔇 Substituted silence frame #" + std::to_string(n) + " (" +
                          std::to_string(packet.size()) + "B → " + std::to_string(cachedSilenceAAC->size()) +
                          "B) at ts=" + std::to_string(ts) + "ms");
            }
        }
        if (n == silenceSubstitutionCap + 1) {
            hooks.log("Ondaline: 🔇 Silence cap reached (10 frames sent) — silence goes on being sent from ts=" +
                      std::to_string(ts) + "ms until real audio returns");
        }
    }

    const std::uint64_t sent = audioPacketsSent;
    if (sent < 6) {
        hooks.log("Ondaline: Audio packet #" + std::to_string(sent) + " — " + std::to_string(packet.size()) +
                  " bytes, ts=" + std::to_string(ts) + "ms");
        if (sent == 1) hooks.log("Ondaline: First audio packet hex: " + hexBytes(packet, 16));
    }
    hooks.send(*toSend, ts);
    ++audioPacketsSent;
}

}  // namespace ondaline::media
