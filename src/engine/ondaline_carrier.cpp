// The silence carrier: when no PCM has come for a second, a faint 25 Hz tone
// keeps the audio timeline moving, at the stream's own pace. While audio
// flows the watchdog looks only when the second could be over (at most every
// quarter second); while the carrier plays it ticks at the packet rate.

#include "engine/ondaline.h"

#include "base/print.h"

#include <algorithm>
#include <chrono>

namespace ondaline {

namespace {

constexpr std::chrono::milliseconds carrierTickPeriod(23);
constexpr double longestQuietLook = 0.25;  // seconds

}  // namespace

void Ondaline::startCarrierWatchdog()
{
    stopCarrierWatchdog();
    const Bytes& block = carrierBuffer();
    encoderQueue_.sync([this, &block] {
        const double now = clock_->now();
        lastPCMReceivedTime_ = now;
        if (!audioTimeline_.running()) audioTimeline_.start(now);  // no picture began it
        carrierActive_ = false;
        if (!carrier_) carrier_.emplace(block);
        carrier_->restart();
    });
    armCarrierCheck(std::chrono::milliseconds(100));
    print("Ondaline: Carrier watchdog started (1s threshold)");
}

void Ondaline::armCarrierCheck(platform::Timer::Clock::duration delay)
{
    carrierTimer_.scheduleAfter(delay, [weakSelf = weak_from_this()] {
        if (const auto self = weakSelf.lock()) self->carrierTick();
    });
}

void Ondaline::stopCarrierWatchdog()
{
    carrierTimer_.cancel();
    encoderQueue_.sync([this] {
        if (!carrierActive_) return;
        carrierActive_ = false;
        print("Ondaline: Carrier watchdog stopped");
    });
}

void Ondaline::carrierTick()
{
    if (state() != StreamState::publishing) {
        armCarrierCheck(carrierTickPeriod);
        return;
    }
    const double now = clock_->now();
    if (const double quiet = now - lastPCMReceivedTime_; quiet < carrierThresholdSec) {
        if (carrierActive_) {
            carrierActive_ = false;
            print("Ondaline: Real audio resumed — carrier stopped");
        }
        // The next look when the silence could have reached the threshold.
        const double wait = std::clamp(carrierThresholdSec - quiet, 0.0, longestQuietLook);
        armCarrierCheck(std::max<platform::Timer::Clock::duration>(
            std::chrono::duration_cast<platform::Timer::Clock::duration>(std::chrono::duration<double>(wait)),
            carrierTickPeriod));
        return;
    }
    armCarrierCheck(carrierTickPeriod);
    if (!carrierActive_) {
        carrierActive_ = true;
        lastCarrierTick_ = now - 0.023;  // one tick's worth to begin with
        print("Ondaline: No audio for 1s — injecting 25Hz carrier");
    }
    const StreamFormat format = streamFormat();
    auto frames = carrier_->framesFor(now - lastCarrierTick_, format.sampleRate, format.channels);
    lastCarrierTick_ = now;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frames.data());
    pcmRing_.append(ByteView(bytes, frames.size() * sizeof(float)));
    drainEncoder();
}

}  // namespace ondaline
