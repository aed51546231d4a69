#pragma once

#include "platform/net/connection.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace ondaline::test {

// Records a connection's state notices so a test can wait for them.
class ConnectionProbe {
public:
    using Kind = platform::ConnectionState::Kind;

    platform::Connection::StateHandler handler()
    {
        return [this](const platform::ConnectionState& state) {
            std::lock_guard lock(mutex_);
            states_.push_back(state);
            changed_.notify_all();
        };
    }

    // Waits until a notice of this kind has arrived; false on time-out.
    bool waitFor(Kind kind, std::chrono::seconds limit = std::chrono::seconds(20))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            for (const auto& s : states_) {
                if (s.kind == kind) return true;
            }
            return false;
        });
    }

    std::vector<Kind> kinds() const
    {
        std::lock_guard lock(mutex_);
        std::vector<Kind> result;
        for (const auto& s : states_) result.push_back(s.kind);
        return result;
    }

    std::string lastError() const
    {
        std::lock_guard lock(mutex_);
        for (auto it = states_.rbegin(); it != states_.rend(); ++it) {
            if (it->kind == Kind::failed) return it->error;
        }
        return {};
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<platform::ConnectionState> states_;
};

}  // namespace ondaline::test
