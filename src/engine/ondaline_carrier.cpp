// The silence carrier: when no PCM has come for a second, a faint 25 Hz tone
// keeps the audio timeline moving, at the stream's own pace.

#include "engine/ondaline.h"

#include "base/print.h"

#include <chrono>

namespace ondaline {

void Ondaline::startCarrierWatchdog()
{
    stopCarrierWatchdog();
    const Bytes& block = carrierBuffer();
    encoderQueue_.sync([this, &block] {
        lastPCMReceivedTime_ = clock_->now();
        audioTimeline_.start(clock_->now());
        carrierActive_ = false;
        if (!carrier_) carrier_.emplace(block);
        carrier_->restart();
    });
    using namespace std::chrono;
    carrierTimer_.scheduleRepeating(platform::Timer::Clock::now() + milliseconds(100), milliseconds(23),
                                    [weakSelf = weak_from_this()] {
                                        if (const auto self = weakSelf.lock()) self->carrierTick();
                                    });
    print("Ondaline: Carrier watchdog started (1s threshold)");
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
    if (state() != StreamState::publishing) return;
    const double now = clock_->now();
    if (now - lastPCMReceivedTime_ < carrierThresholdSec) {
        if (carrierActive_) {
            carrierActive_ = false;
            print("Ondaline: Real audio resumed — carrier stopped");
        }
        return;
    }
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
