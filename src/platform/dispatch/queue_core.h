#pragma once

// Internal to the platform layer: the part of a SerialQueue that its I/O
// objects share. It outlives the SerialQueue object as long as a timer or a
// connection still refers to it.

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <atomic>
#include <string>
#include <thread>

namespace ondaline::platform {

struct QueueCore {
    explicit QueueCore(std::string queueLabel) : label(std::move(queueLabel)) {}

    bool isCurrent() const { return threadId.load(std::memory_order_acquire) == std::this_thread::get_id(); }
    bool isStopped() const { return stopped.load(std::memory_order_acquire); }

    const std::string label;
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    std::atomic<std::thread::id> threadId{};
    std::atomic<bool> stopped{false};
};

}  // namespace ondaline::platform
