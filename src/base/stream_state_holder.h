#pragma once

#include "base/engine_types.h"

#include <atomic>
#include <functional>

namespace ondaline {

// The engine's `state`, changed in one place. A change to a different value
// logs "Ondaline: State → <text>" on the writing thread and then calls
// `announce`, through which the engine posts the delegate's
// ondalineDidChangeState to the main executor. Setting the current value
// does neither.
class StreamStateHolder {
public:
    explicit StreamStateHolder(std::function<void()> announce) : announce_(std::move(announce)) {}

    StreamState get() const { return state_.load(std::memory_order_acquire); }
    void set(StreamState newState);

    bool isConnected() const { return get() == StreamState::publishing; }

private:
    std::atomic<StreamState> state_{StreamState::idle};
    const std::function<void()> announce_;
};

}  // namespace ondaline
