#pragma once

#include "base/engine_types.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace ondaline {

// Brings a lost live stream back with a growing delay: retry n waits
// min(10 + 5 × (n − 1), 30) seconds (10, 15, 20, 25, then 30), and after the
// tenth failed retry it gives up. The decisions and their messages live
// here; the engine supplies the timer, the state and the delegate through
// hooks, so the rules can be checked without waiting.
class Reconnector {
public:
    static constexpr std::int64_t maxReconnectAttempts = 10;

    struct Hooks {
        std::function<void(StreamState)> setState;
        // Posts a notice to the delegate; the text is composed when it is delivered.
        std::function<void(NoticeKind kind, std::function<std::string()> message)> notifyError;
        // Runs `fire` after `delay`, replacing whatever was scheduled.
        std::function<void(std::chrono::seconds delay, std::function<void()> fire)> schedule;
        std::function<void()> cancelScheduled;
        std::function<void()> connect;
    };

    explicit Reconnector(Hooks hooks) : hooks_(std::move(hooks)) {}

    static std::chrono::seconds delayFor(std::int64_t attempt);

    // Schedules the next retry, or gives up with the error state.
    void attemptReconnect();

    // The user stopped: no retry, and the lost stream is forgotten.
    void cancelReconnect();

    // The stream went live: a later loss starts counting afresh.
    void streamWentLive();

    std::int64_t attempts() const { return attempts_.load(); }
    void resetAttempts() { attempts_ = 0; }
    bool wasPublishing() const { return wasPublishing_; }
    void setWasPublishing(bool value) { wasPublishing_ = value; }

private:
    const Hooks hooks_;
    std::atomic<std::int64_t> attempts_{0};  // read by notices on the main thread
    bool wasPublishing_ = false;
};

}  // namespace ondaline
