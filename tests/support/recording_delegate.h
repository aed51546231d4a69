#pragma once

#include "base/engine_types.h"
#include "engine/ondaline_delegate.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ondaline::test {

// An engine delegate that writes down what it hears, in order:
// "connect", "disconnect", "state:<text>", "error:<message>" for a failure
// and "retrying:", "unhealthy:" or "unstable:<message>" for the other
// notices. Statistics ticks are only counted.
class RecordingDelegate : public OndalineDelegate {
public:
    void ondalineDidConnect(Ondaline&) override { add("connect"); }
    void ondalineDidDisconnect(Ondaline&) override { add("disconnect"); }
    void ondalineDidChangeState(Ondaline&, StreamState state) override { add("state:" + std::string(rawValue(state))); }
    void ondalineDidEncounterError(Ondaline&, const std::string& message, NoticeKind kind) override
    {
        add(std::string(kindName(kind)) + ":" + message);
    }
    void ondalineDidUpdateStats(Ondaline&, std::uint64_t, std::uint64_t) override
    {
        std::lock_guard lock(mutex_);
        ++statsTicks_;
        changed_.notify_all();
    }

    std::vector<std::string> events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }

    int statsTicks() const
    {
        std::lock_guard lock(mutex_);
        return statsTicks_;
    }

    // Waits until an event equal to `event` has been heard.
    bool waitFor(const std::string& event, std::chrono::seconds limit = std::chrono::seconds(20))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            for (const auto& e : events_) {
                if (e == event) return true;
            }
            return false;
        });
    }

    bool waitForStatsTicks(int count, std::chrono::seconds limit = std::chrono::seconds(20))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return statsTicks_ >= count; });
    }

    int count(const std::string& event) const
    {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count(events_.begin(), events_.end(), event));
    }

private:
    static std::string_view kindName(NoticeKind kind)
    {
        switch (kind) {
        case NoticeKind::retrying:
            return "retrying";
        case NoticeKind::unhealthy:
            return "unhealthy";
        case NoticeKind::unstable:
            return "unstable";
        case NoticeKind::failure:
            break;
        }
        return "error";
    }

    void add(std::string event)
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    int statsTicks_ = 0;
};

}  // namespace ondaline::test
