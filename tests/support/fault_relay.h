#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>

namespace ondaline::test {

// A TCP relay on 127.0.0.1 in front of a loopback server, doing to the
// traffic what a bad network does. Every client connection gets a fresh
// connection to the server; the controls may be used from any thread at any
// time and apply to the connections already open as well as later ones.
//
// The client side keeps a small receive window and an Internet-sized
// segment, so that a relay that stops reading is felt by the sender within
// kilobytes rather than after megabytes of kernel buffer.
class FaultRelay {
public:
    static constexpr std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();

    explicit FaultRelay(std::uint16_t upstreamPort);
    ~FaultRelay();  // closes every connection and stops the thread

    FaultRelay(const FaultRelay&) = delete;
    FaultRelay& operator=(const FaultRelay&) = delete;

    std::uint16_t port() const { return port_; }

    // Latency added to each direction.
    void setDelay(std::chrono::milliseconds delay);
    // Bandwidth of the client-to-server direction; `unlimited` lifts it.
    void setThrottle(std::uint64_t bytesPerSecond);
    // Stops reading from either side: nothing crosses, yet both connections
    // stay open, as over a link that died without a word.
    void stall() { stallAfter(0); }
    // Lets `bytes` more client bytes through, then stalls.
    void stallAfter(std::uint64_t bytes);
    void resume() { stallAfter(unlimited); }
    // Resets every open connection on both sides (RST, no FIN). Returns once done.
    void cut();
    // Silently discards the next `bytes` client-to-server bytes.
    void dropBytes(std::uint64_t bytes);
    // While set, new connections are reset as soon as they are accepted.
    void refuse(bool refusing);

    struct Counters {
        std::uint64_t accepted = 0;  // connections relayed to the server
        std::uint64_t refused = 0;
        std::uint64_t toServer = 0;  // bytes written to the server
        std::uint64_t toClient = 0;
        std::uint64_t dropped = 0;
    };
    Counters counters() const;

    // Waits until `ready` holds for the counters; false after `limit`.
    template <typename Predicate>
    bool waitUntil(Predicate ready, std::chrono::milliseconds limit) const
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return ready(counters_); });
    }

private:
    struct Settings {
        std::chrono::milliseconds delay{0};
        std::uint64_t throttle = unlimited;
        std::uint64_t passBudget = unlimited;  // client bytes still allowed in
        std::uint64_t dropBudget = 0;
        bool refusing = false;
        std::uint64_t cutsRequested = 0;
    };

    void run(std::uint16_t upstreamPort);
    void wake();

    std::uint16_t port_ = 0;
    int listener_ = -1;
    int wakeFd_ = -1;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;  // counters moved or a cut was done
    Settings settings_;
    Counters counters_;
    std::uint64_t cutsDone_ = 0;
    std::atomic<bool> stop_{false};

    std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace ondaline::test
