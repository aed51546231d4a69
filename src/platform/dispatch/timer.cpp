#include "platform/dispatch/timer.h"

#include "platform/dispatch/queue_core.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <atomic>
#include <mutex>

namespace ondaline::platform {

struct Timer::State {
    explicit State(std::shared_ptr<QueueCore> q) : queue(std::move(q)) {}

    const std::shared_ptr<QueueCore> queue;

    // Held while a handler runs and while cancel() (off the queue) bumps the
    // generation, so no handler can start after cancel() has returned.
    std::mutex runMutex;
    std::atomic<std::uint64_t> generation{0};
    std::atomic<bool> scheduled{false};

    // The asio timer currently armed, kept to abort its wait on cancel.
    std::mutex armedMutex;
    std::weak_ptr<asio::steady_timer> armed;
};

namespace {

struct Arming {
    std::weak_ptr<Timer::State> state;
    std::shared_ptr<asio::steady_timer> timer;
    std::shared_ptr<const Timer::Handler> handler;
    std::uint64_t generation;
    Timer::Clock::duration interval;  // zero for a one-shot timer
};

void wait(Arming arming);

void fire(Arming arming)
{
    auto state = arming.state.lock();
    if (!state) return;
    {
        std::lock_guard runLock(state->runMutex);
        if (state->generation.load(std::memory_order_acquire) != arming.generation) return;
        if (arming.interval == Timer::Clock::duration::zero()) state->scheduled.store(false, std::memory_order_release);
        (*arming.handler)();
    }
    if (arming.interval == Timer::Clock::duration::zero()) return;
    if (state->generation.load(std::memory_order_acquire) != arming.generation) return;

    auto next = arming.timer->expiry() + arming.interval;
    const auto now = Timer::Clock::now();
    if (next <= now) {
        // Skip the ticks that passed while we were late; stay on the grid.
        const auto behind = (now - next) / arming.interval + 1;
        next += behind * arming.interval;
    }
    arming.timer->expires_at(next);
    wait(std::move(arming));
}

void wait(Arming arming)
{
    auto timer = arming.timer;
    timer->async_wait([arming = std::move(arming)](const asio::error_code& ec) mutable {
        if (!ec) fire(std::move(arming));
    });
}

// Aborts the wait of an armed asio timer. The asio object may only be touched
// on its queue's thread.
void disarm(const std::shared_ptr<QueueCore>& queue, std::shared_ptr<asio::steady_timer> timer)
{
    if (!timer) return;
    if (queue->isCurrent()) {
        timer->cancel();
    } else if (!queue->isStopped()) {
        asio::post(queue->io, [timer = std::move(timer)] { timer->cancel(); });
    }
}

// Invalidates every arming made so far. Off the queue this waits for a
// handler in progress; on the queue the handler in progress is our caller.
void bumpGeneration(Timer::State& state)
{
    if (state.queue->isCurrent()) {
        state.generation.fetch_add(1, std::memory_order_acq_rel);
    } else {
        std::lock_guard runLock(state.runMutex);
        state.generation.fetch_add(1, std::memory_order_acq_rel);
    }
}

void schedule(std::shared_ptr<Timer::State> state, Timer::Clock::time_point deadline, Timer::Clock::duration interval,
              Timer::Handler handler)
{
    bumpGeneration(*state);
    const std::uint64_t generation = state->generation.load(std::memory_order_acquire);

    if (state->queue->isStopped()) return;
    auto timer = std::make_shared<asio::steady_timer>(state->queue->io, deadline);
    state->scheduled.store(true, std::memory_order_release);
    // Arm before publishing: once another thread can see the timer it may
    // post a cancel for it, and the asio object must be done with us by then.
    wait(Arming{state, timer, std::make_shared<const Timer::Handler>(std::move(handler)), generation, interval});

    std::shared_ptr<asio::steady_timer> previous;
    {
        std::lock_guard armedLock(state->armedMutex);
        previous = state->armed.lock();
        state->armed = timer;
    }
    // Two racing schedules may publish out of order; the generation still
    // decides which handler may run, so at worst a stale wait lingers until
    // its deadline and then does nothing.
    disarm(state->queue, std::move(previous));
}

}  // namespace

Timer::Timer(std::shared_ptr<QueueCore> queue) : state_(std::make_shared<State>(std::move(queue))) {}

Timer::~Timer() { cancel(); }

Timer::Timer(Timer&&) noexcept = default;

Timer& Timer::operator=(Timer&& other) noexcept
{
    if (this != &other) {
        cancel();
        state_ = std::move(other.state_);
    }
    return *this;
}

void Timer::scheduleOnce(Clock::time_point deadline, Handler handler)
{
    schedule(state_, deadline, Clock::duration::zero(), std::move(handler));
}

void Timer::scheduleRepeating(Clock::time_point firstDeadline, Clock::duration interval, Handler handler)
{
    if (interval <= Clock::duration::zero()) interval = std::chrono::nanoseconds(1);
    schedule(state_, firstDeadline, interval, std::move(handler));
}

void Timer::cancel()
{
    if (!state_) return;  // moved from
    bumpGeneration(*state_);
    state_->scheduled.store(false, std::memory_order_release);
    std::shared_ptr<asio::steady_timer> armed;
    {
        std::lock_guard armedLock(state_->armedMutex);
        armed = state_->armed.lock();
        state_->armed.reset();
    }
    disarm(state_->queue, std::move(armed));
}

bool Timer::isScheduled() const { return state_ && state_->scheduled.load(std::memory_order_acquire); }

}  // namespace ondaline::platform
