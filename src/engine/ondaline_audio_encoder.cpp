// The AAC encoder's life on the encoder queue, the packet loop's hooks, and
// the two messages that announce the audio to an RTMP server.

#include "engine/ondaline.h"

#include "base/print.h"
#include "engine/rtmp/commands.h"
#include "media/audio_specific_config.h"
#include "media/flv_audio.h"
#include "platform/codec/aac_encoder.h"
#include "platform/codec/resampler.h"

#include <cstdio>
#include <random>

namespace ondaline {

namespace {

constexpr double ringSeconds = 5.0;  // what the ring may hold before the oldest audio goes

// A packet of the faint noise the silence substitute is made from, encoded
// by an encoder of its own so the stream's encoder never hears it.
std::optional<Bytes> makeSilencePacket(const platform::AACEncoder::Settings& settings)
{
    auto created = platform::AACEncoder::create(settings);
    auto* encoder = std::get_if<std::unique_ptr<platform::AACEncoder>>(&created);
    if (!encoder) return std::nullopt;
    std::mt19937 random(20250101);
    std::uniform_real_distribution<float> noise(-0.00003f, 0.00003f);
    std::vector<float> block(platform::AACEncoder::framesPerPacket * static_cast<std::size_t>(settings.channels));
    std::vector<Bytes> packets;
    for (int i = 0; i < 4 && packets.size() < 2; ++i) {
        for (auto& sample : block) sample = noise(random);
        auto encoded = (*encoder)->encode(block);
        if (!encoded.packet.empty()) packets.push_back(std::move(encoded.packet));
    }
    if (packets.size() < 2) return std::nullopt;
    return packets[1];  // the first is the encoder's priming packet
}

}  // namespace

bool Ondaline::setupEncoder()
{
    const Configuration settings = config();
    const StreamFormat format = streamFormat();
    const platform::AACEncoder::Settings wanted{static_cast<int>(std::lround(format.sampleRate)),
                                                static_cast<int>(format.channels), settings.audioBitrate};
    bool created = false;
    std::string failure;
    encoderQueue_.sync([&] {
        auto result = platform::AACEncoder::create(wanted);
        if (auto* failed = std::get_if<platform::AACEncoder::Failure>(&result)) {
            failure = "Failed to create AAC encoder (status " + std::to_string(failed->status) + "): " + failed->reason;
            return;
        }
        encoder_ = std::move(std::get<std::unique_ptr<platform::AACEncoder>>(result));
        encoderASC_ = encoder_->audioSpecificConfig();
        if (!encoderASC_.empty()) print("Ondaline: Extracted ASC from encoder: " + hexBytes(encoderASC_));
        print("Ondaline: AAC encoder ready — " + std::to_string(settings.audioBitrate / 1000) + "kbps, " +
              detail::describeDouble(format.sampleRate) + "Hz, " + std::to_string(format.channels) + "ch");

        audioLoop_.cachedSilenceAAC = makeSilencePacket(wanted);
        if (!audioLoop_.cachedSilenceAAC || audioLoop_.cachedSilenceAAC->size() < media::shortPacketBytes) {
            audioLoop_.cachedSilenceAAC.reset();
            print("Ondaline: WARNING — silence frame too small, will skip tiny frames instead");
        } else {
            print("Ondaline: Cached silence AAC frame — " + std::to_string(audioLoop_.cachedSilenceAAC->size()) +
                  " bytes ✓");
        }
        audioLoop_.encoderSampleCount = 0;
        pcmRing_.setCapacity(sizeof(float) * format.channels,
                             static_cast<std::size_t>(format.sampleRate * ringSeconds));
        created = true;
    });
    if (!created) reportError(failure);
    return created;
}

void Ondaline::destroyEncoder()
{
    // On the encoder queue, so no drain can be using the encoder meanwhile.
    encoderQueue_.sync([this] {
        encoder_.reset();
        encoderASC_.clear();
        audioLoop_.cachedSilenceAAC.reset();
    });
}

void Ondaline::resetAudioState()
{
    aacSequenceHeaderSent_ = false;
    lastPCMReceivedTime_ = 0;
    diagTapDeliveries_ = 0;
    diagPCMBytesReceived_ = 0;
    diagDrainCalls_ = 0;
    diagLastTapTime_ = 0;
    {
        std::lock_guard lock(resamplerLock_);
        resampler_.reset();
    }
    encoderQueue_.sync([this] {
        audioLoop_.reset();
        audioLoop_.diagAACFramesProduced = 0;
        media_.lastAudioTimestamp = 0;
        media_.lastVideoTimestamp = 0;
        carrierActive_ = false;
        audioTimeline_.stop();
        aheadEpisodeLastTime_.reset();
        shortfallSince_.reset();
        shortfallTimer_.cancel();
        pcmRing_.clear();
        destroyEncoder();
    });
}

// On the encoder queue. The sound gathered while the encoders came up (a
// moment on an idle machine, a third of a second on a busy one) would go out
// ahead of the picture's first frame, and the bars and song text would change
// that long before the sound they go with: the stream's sound begins with its
// picture instead, and what came before is let go.
void Ondaline::startSoundBesideThePicture(double now)
{
    pcmRing_.clear();
    audioTimeline_.start(now);
}

void Ondaline::drainEncoder()
{
    if (!encoder_) return;
    const bool rtmpMode = isRTMPMode();
    if (rtmpMode && !aacSequenceHeaderSent_) return;  // the PCM waits for the sequence header
    if (!audioTimeline_.running()) return;            // and for the stream clock
    ++diagDrainCalls_;
    const auto& settings = encoder_->settings();
    const auto channels = static_cast<std::uint32_t>(settings.channels);
    if (holdingForLateAudio(channels, settings.sampleRate)) return;
    Bytes pcm = pcmRing_.takeAll(&audioLoop_.remainderBytes);
    if (pcm.empty()) return;

    dropAudioAheadOfTheClock(pcm, channels, settings.sampleRate);
    // Audio that went missing (a late first delivery, a source that paused or
    // was replaced) becomes silence in its place, so the timestamps, which
    // count frames, keep level with the time since the stream began.
    const std::uint64_t waiting = pcm.size() / (sizeof(float) * channels);
    if (const auto missing = audioTimeline_.shortfall(clock_->now(), settings.sampleRate,
                                                      audioLoop_.framesTaken + waiting)) {
        print("Ondaline: ⏱ Audio " + std::to_string(missing * 1000 / static_cast<std::uint64_t>(settings.sampleRate)) +
              "ms behind the stream clock — filled with silence");
        audioLoop_.insertSilence(pcm, missing, channels);
    }
    const media::AudioPacketLoop::Hooks hooks{
        .encode =
            [this](std::span<const float> samples) {
                auto encoded = encoder_->encode(samples);
                return media::EncodedPacket{std::move(encoded.packet), encoded.status};
            },
        .send =
            [&](const Bytes& packet, std::uint32_t timestamp) {
                if (rtmpMode) {
                    sendMediaMessage(rtmp::audioType, rtmp::audioChunkStream, media::aacPacketBody(packet), timestamp);
                } else {
                    sendIcecastAudio(packet, settings.sampleRate, static_cast<std::uint32_t>(settings.channels));
                }
            },
        .log = [](const std::string& line) { print(line); },
    };
    audioLoop_.carrierOnAir = carrierActive_;
    audioLoop_.run(pcm, channels, settings.sampleRate, hooks);
    pcmRing_.putBack(std::move(pcm));
}

// Audio short of the stream clock past the tolerance waits a moment before
// silence makes it up: a source that was only held up (its thread late on a
// busy machine) makes up what it owes in a burst, and its music then goes
// out whole, with nothing put in front of it. Audio still missing when the
// moment is over (a source that paused or was replaced) is silence. True
// while it waits; a drain at its end looks again.
bool Ondaline::holdingForLateAudio(std::uint32_t channels, double sampleRate)
{
    constexpr double holdSeconds = 0.4;
    // Before the first audio went out nothing was held up: the wait for a
    // source's first delivery is a gap, silence at once, and the stream's
    // sound begins when it began.
    if (audioLoop_.framesTaken == 0) return false;
    const double now = clock_->now();
    const std::uint64_t waiting = pcmRing_.size() / (sizeof(float) * channels);
    if (audioTimeline_.behind(now, sampleRate, audioLoop_.framesTaken + waiting) == 0) {
        shortfallSince_.reset();
        return false;
    }
    if (!shortfallSince_) shortfallSince_ = now;
    const double left = *shortfallSince_ + holdSeconds - now;
    if (!(left > 0)) {
        shortfallSince_.reset();
        return false;
    }
    shortfallTimer_.scheduleAfter(
        std::chrono::duration_cast<platform::Timer::Clock::duration>(std::chrono::duration<double>(left)),
        [weakSelf = weak_from_this()] {
            if (const auto self = weakSelf.lock()) self->drainEncoder();
        });
    return true;
}

// Audio handed to the packet loop may run at most half a second ahead of the
// stream clock. Past that (a sender delivering a stall's worth at once, or
// one whose clock runs fast) the oldest waiting PCM goes, so what follows
// plays at its time instead of seconds late for the rest of the session.
void Ondaline::dropAudioAheadOfTheClock(Bytes& pcm, std::uint32_t channels, double sampleRate)
{
    constexpr double episodeEndSeconds = 10.0;
    const std::size_t frameBytes = sizeof(float) * channels;
    const std::uint64_t waiting = pcm.size() / frameBytes;
    const double now = clock_->now();
    const std::uint64_t excess = std::min(audioTimeline_.excess(now, sampleRate, audioLoop_.framesTaken + waiting),
                                          waiting);
    if (excess == 0) {
        if (aheadEpisodeLastTime_ && now - *aheadEpisodeLastTime_ >= episodeEndSeconds) aheadEpisodeLastTime_.reset();
        return;
    }
    const std::size_t droppedBytes = static_cast<std::size_t>(excess) * frameBytes;
    pcm.erase(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(droppedBytes));
    audioLoop_.remainderBytes -= std::min(audioLoop_.remainderBytes, droppedBytes);
    if (!aheadEpisodeLastTime_) {
        print("Ondaline: ⚠ Audio ran ahead of the stream clock — dropped the oldest " +
              std::to_string(excess * 1000 / static_cast<std::uint64_t>(sampleRate)) + "ms to stay within " +
              std::to_string(static_cast<int>(media::AudioTimeline::maxLeadSeconds * 1000)) + "ms");
    }
    aheadEpisodeLastTime_ = now;
}

void Ondaline::sendMetaData()
{
    if (state() != StreamState::publishing) return;
    const Configuration settings = config();
    const StreamFormat format = streamFormat();
    sendMessage(rtmp::dataAMF0Type, rtmp_.publishStreamID.load(), rtmp::videoChunkStream,
                media::onMetaDataBody(settings.audioBitrate, format.sampleRate, format.channels));
    flushSendQueue();
    print("Ondaline: Sent onMetaData — " + std::to_string(settings.audioBitrate / 1000) + "kbps, " +
          detail::describeDouble(format.sampleRate) + "Hz, " + std::to_string(format.channels) + "ch");
}

void Ondaline::sendAACSequenceHeader()
{
    if (state() != StreamState::publishing) return;
    const StreamFormat format = streamFormat();
    Bytes asc = encoderASC_;
    if (asc.empty()) {
        asc = media::buildAudioSpecificConfig(format.sampleRate, format.channels);
        print("Ondaline: Using handcrafted ASC (none from the encoder)");
    }
    print("Ondaline: AAC sequence header ASC: " + hexBytes(asc));
    sendMessage(rtmp::audioType, rtmp_.publishStreamID.load(), rtmp::audioChunkStream,
                media::aacSequenceHeaderBody(asc));
    flushSendQueue();
    aacSequenceHeaderSent_ = true;
    print("Ondaline: Sent AAC sequence header (" + std::to_string(asc.size()) + " bytes)");
    scheduleDrain();  // PCM that waited for the header
}

}  // namespace ondaline
