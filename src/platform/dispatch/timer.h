#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace ondaline::platform {

struct QueueCore;

// A one-shot or repeating timer whose handler runs on a serial queue, with
// absolute deadlines. Made by SerialQueue::makeTimer(); may outlive the queue
// (it then never fires).
//
// Scheduling replaces whatever was scheduled before. After cancel() returns,
// the handler is not running (unless cancel() was called from the handler
// itself) and never runs again, even if its turn was already queued: a
// generation number taken at scheduling time is checked under the same lock
// that cancel() takes. So cancel() from another thread waits for a handler in
// progress; a handler must therefore never wait for the thread that cancels
// its timer. Destroying the timer cancels it.
class Timer {
public:
    using Handler = std::function<void()>;
    using Clock = std::chrono::steady_clock;

    explicit Timer(std::shared_ptr<QueueCore> queue);
    ~Timer();

    Timer(Timer&&) noexcept;
    Timer& operator=(Timer&&) noexcept;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void scheduleOnce(Clock::time_point deadline, Handler handler);
    void scheduleAfter(Clock::duration delay, Handler handler)
    {
        scheduleOnce(Clock::now() + delay, std::move(handler));
    }

    // Fires first at `firstDeadline`, then every `interval` on the grid of
    // absolute deadlines that starts there, so lateness never accumulates.
    // Ticks missed while the queue was busy are skipped, not fired in a burst.
    void scheduleRepeating(Clock::time_point firstDeadline, Clock::duration interval, Handler handler);

    void cancel();

    // True between scheduling and cancel(), or until a one-shot handler has run.
    bool isScheduled() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace ondaline::platform
