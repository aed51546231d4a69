#pragma once

#include <atomic>

namespace ondaline::platform {

// Seconds on a monotonic clock. Only differences between two readings mean
// anything; the engine compares its stored times with one another only.
double absoluteTime();

// The clock that timed rules read, so that tests can move time by hand
// instead of waiting for it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

class SystemClock final : public Clock {
public:
    double now() const override { return absoluteTime(); }
};

// A clock that moves only when told to. Safe to read from any thread.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double start = 1000.0) : seconds_(start) {}

    double now() const override { return seconds_.load(std::memory_order_acquire); }
    void set(double seconds) { seconds_.store(seconds, std::memory_order_release); }
    void advance(double seconds);

private:
    std::atomic<double> seconds_;
};

}  // namespace ondaline::platform
