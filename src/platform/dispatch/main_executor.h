#pragma once

#include "platform/dispatch/serial_queue.h"

#include <functional>
#include <memory>

namespace ondaline::platform {

// Where callbacks meant for the user interface run. The application binds it
// to the Qt event loop; the core and its tests bind it to a serial queue.
class MainExecutor {
public:
    virtual ~MainExecutor() = default;

    // Runs `task` later on the main thread, in posting order.
    virtual void post(std::function<void()> task) = 0;
};

// A main executor backed by a serial queue of its own.
class QueueMainExecutor final : public MainExecutor {
public:
    QueueMainExecutor() : queue_("main") {}

    void post(std::function<void()> task) override { queue_.async(std::move(task)); }

    // Waits until every task posted before this call has run.
    void drain();

    SerialQueue& queue() { return queue_; }

private:
    SerialQueue queue_;
};

}  // namespace ondaline::platform
