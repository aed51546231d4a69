#pragma once

// What the sound-server pieces stand on: a libpulse threaded mainloop with a
// thread of its own, and a context connected on it. libpulse objects are
// touched only with the mainloop's lock held (PulseLock), or from callbacks,
// which run on the mainloop's thread and already hold it. Waiting (wait,
// finish) is for other threads only: the mainloop's thread would wait for
// itself.

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ondaline::platform::pulse {

struct OperationUnref {
    void operator()(pa_operation* o) const { pa_operation_unref(o); }
};
using Operation = std::unique_ptr<pa_operation, OperationUnref>;

// Forgets the stream's callbacks first, so that nothing of ours runs from it
// any more (disconnecting calls them at once), then disconnects it. With the
// lock held.
struct StreamCloser {
    void operator()(pa_stream* s) const;
};
using Stream = std::unique_ptr<pa_stream, StreamCloser>;

class PulseConnection {
public:
    static constexpr std::chrono::milliseconds connectTimeout{2000};
    static constexpr std::chrono::milliseconds requestTimeout{5000};

    // Null, with `error` set, when no server answers within connectTimeout.
    // The server is PULSE_SERVER's, else the user's; it is never spawned.
    static std::unique_ptr<PulseConnection> open(const std::string& applicationName, std::string& error);
    // Disconnects and ends the mainloop's thread: once it returns, no
    // callback runs any more. Never from the mainloop's thread.
    ~PulseConnection();

    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* mainloop() const { return mainloop_.get(); }
    pa_context* context() const { return context_.get(); }

    // Wakes every wait(): callbacks call it when what someone waits for may
    // have happened.
    void signal() const;

    // With the lock held: waits until `done()`, the context fails, or the
    // time-out (if any) passes. Returns done().
    bool wait(const std::function<bool()>& done,
              std::optional<std::chrono::milliseconds> timeout = requestTimeout) const;

    // With the lock held: takes the operation and waits until it completed,
    // its callback having run. False when it did not start, was cancelled
    // (the context failed) or timed out; then its callback never runs.
    bool finish(pa_operation* operation) const;

    // The context's last error, for people.
    std::string lastError() const;

    // With the lock held: the server's default sink; empty when unknown.
    std::string defaultSinkName() const;

    // With the lock held: whether the server still answers.
    bool isConnected() const;
    // With the lock held: `handler` runs once, on the mainloop's thread, when
    // the server goes away.
    void setLostHandler(std::function<void()> handler);

private:
    PulseConnection() = default;
    static void onStateChange(pa_context* context, void* connection);

    std::function<void()> lostHandler_;  // under the lock

    struct MainloopFree {
        void operator()(pa_threaded_mainloop* m) const { pa_threaded_mainloop_free(m); }
    };
    struct ContextUnref {
        void operator()(pa_context* c) const { pa_context_unref(c); }
    };
    // Declared first so that it is freed last.
    std::unique_ptr<pa_threaded_mainloop, MainloopFree> mainloop_;
    std::unique_ptr<pa_context, ContextUnref> context_;
};

// A connection that tells of the server's changes: `listener` runs on the
// mainloop's thread for each event that `wanted` lets through, and once
// when the server goes away, after which nothing is told any more.
class WatchedConnection {
public:
    using Wanted = bool (*)(pa_subscription_event_type_t event);

    // Null, with `error` set, when no server answers or it refuses to tell.
    static std::unique_ptr<WatchedConnection> open(pa_subscription_mask_t mask, Wanted wanted, std::string& error);
    // Ends the mainloop's thread while the listener still exists. Not from
    // within the listener, which would be waited for on its own thread.
    ~WatchedConnection() { connection_.reset(); }

    const PulseConnection& connection() const { return *connection_; }
    // Replaces an earlier listener. The listener cannot ask the server
    // anything: the answer would come on its own thread.
    void setListener(std::function<void()> listener);
    bool isConnected() const;

private:
    WatchedConnection() = default;
    static void onEvent(pa_context*, pa_subscription_event_type_t event, std::uint32_t, void* userdata);

    Wanted wanted_ = nullptr;
    std::function<void()> listener_;  // under the lock
    std::unique_ptr<PulseConnection> connection_;
};

// Holds the mainloop's lock for a scope; it is recursive.
class PulseLock {
public:
    explicit PulseLock(const PulseConnection& connection) : mainloop_(connection.mainloop())
    {
        pa_threaded_mainloop_lock(mainloop_);
    }
    ~PulseLock() { pa_threaded_mainloop_unlock(mainloop_); }

    PulseLock(const PulseLock&) = delete;
    PulseLock& operator=(const PulseLock&) = delete;

private:
    pa_threaded_mainloop* mainloop_;
};

}  // namespace ondaline::platform::pulse
