#include "engine/ondaline.h"

#include "platform/codec/aac_encoder.h"
#include "platform/codec/h264_encoder.h"
#include "platform/codec/resampler.h"
#include "platform/net/connection.h"

#include <bit>
#include <cmath>
#include <numbers>

namespace ondaline {

std::shared_ptr<Ondaline> Ondaline::create(std::shared_ptr<platform::MainExecutor> mainExecutor,
                                           std::shared_ptr<const platform::Clock> clock)
{
    if (!clock) clock = std::make_shared<platform::SystemClock>();
    return std::make_shared<Ondaline>(Passkey{}, std::move(mainExecutor), std::move(clock));
}

Ondaline::Ondaline(Passkey, std::shared_ptr<platform::MainExecutor> mainExecutor,
                   std::shared_ptr<const platform::Clock> clock)
    : mainExecutor_(std::move(mainExecutor)), clock_(std::move(clock)), state_([this] { announceStateChange(); }),
      reconnectTimer_(networkQueue_.makeTimer()), reconnector_(reconnectorHooks()),
      statsTimer_(networkQueue_.makeTimer()), negotiationTimer_(networkQueue_.makeTimer()),
      healthTimer_(networkQueue_.makeTimer()), shortfallTimer_(encoderQueue_.makeTimer()),
      videoTimer_(encoderQueue_.makeTimer()), carrierTimer_(encoderQueue_.makeTimer()),
      icecastReplyTimer_(networkQueue_.makeTimer())
{
}

Ondaline::~Ondaline()
{
    // Nothing is reported and nothing is sent: stopping a stream is
    // disconnect()'s business. The timers and the connection are let go so
    // no handler can outlive the engine.
    reconnectTimer_.cancel();
    statsTimer_.cancel();
    negotiationTimer_.cancel();
    carrierTimer_.cancel();
    shortfallTimer_.cancel();
    videoTimer_.cancel();
    icecastReplyTimer_.cancel();
    healthTimer_.cancel();
    std::lock_guard lock(connectionLock_);
    connection_.reset();
    icecastConnection_.reset();
}

// --- delegate and notices ---

void Ondaline::setDelegate(std::weak_ptr<OndalineDelegate> delegate)
{
    std::lock_guard lock(delegateLock_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<OndalineDelegate> Ondaline::delegate() const
{
    std::lock_guard lock(delegateLock_);
    return delegate_.lock();
}

void Ondaline::notifyDelegate(std::function<void(OndalineDelegate&, Ondaline&)> call)
{
    if (!mainExecutor_) return;
    mainExecutor_->post([weakSelf = weak_from_this(), call = std::move(call)] {
        const auto self = weakSelf.lock();
        if (!self) return;
        if (const auto delegate = self->delegate()) call(*delegate, *self);
    });
}

void Ondaline::announceStateChange()
{
    // The state is read when the notice runs, not when it was posted.
    notifyDelegate([](OndalineDelegate& delegate, Ondaline& self) {
        delegate.ondalineDidChangeState(self, self.state());
    });
}

Ondaline::Attempt Ondaline::currentAttempt() const
{
    std::lock_guard lock(connectionLock_);
    return {connection_, connectionEpoch_};
}

std::uint64_t Ondaline::beginAttempt(std::shared_ptr<platform::Connection> Ondaline::*slot,
                                     std::shared_ptr<platform::Connection> connection, StateHandler handle)
{
    std::uint64_t epoch;
    std::shared_ptr<platform::Connection> previous;
    {
        std::lock_guard lock(connectionLock_);
        epoch = ++connectionEpoch_;
        previous = std::exchange(this->*slot, connection);
    }
    if (previous) previous->cancel();  // a leftover would otherwise stay open
    connection->setStateHandler([weakSelf = weak_from_this(), epoch, handle](const platform::ConnectionState& notice) {
        if (const auto self = weakSelf.lock()) ((*self).*handle)(notice, epoch);
    });
    connection->start(networkQueue_);
    return epoch;
}

bool Ondaline::isCurrentAttempt(std::uint64_t epoch) const
{
    std::lock_guard lock(connectionLock_);
    return epoch == connectionEpoch_;
}

bool Ondaline::isOpenAttempt(std::uint64_t epoch) const
{
    std::lock_guard lock(connectionLock_);
    return epoch == connectionEpoch_ && connection_;
}

const Bytes& Ondaline::carrierBuffer()
{
    std::call_once(carrierOnce_, [this] {
        Bytes block;
        block.reserve(8192);
        for (int i = 0; i < 1024; ++i) {
            const float sample = static_cast<float>(0.001 * std::sin(2.0 * std::numbers::pi * 25.0 * i / 48000.0));
            for (int channel = 0; channel < 2; ++channel) {
                const auto bits = std::bit_cast<std::uint32_t>(sample);
                appendUInt32LE(block, bits);  // f32 in the machine's (little-endian) order
            }
        }
        carrierBuffer_ = std::move(block);
    });
    return carrierBuffer_;
}

}  // namespace ondaline
