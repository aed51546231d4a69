#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace ondaline::platform {

struct QueueCore;
class Timer;

// A serial queue: one thread of its own runs the submitted tasks one at a
// time, in submission order; delayed tasks run once their deadline has come.
//
// Destroying the queue drops the tasks that have not started. A task that is
// running finishes first; when the destructor runs inside one of the queue's
// own tasks, it does not wait for itself and the thread winds down after that
// task returns; the process's exit waits for such a thread (see
// loose_threads.h). A task that throws is reported on stderr and the queue
// goes on.
class SerialQueue {
public:
    using Task = std::function<void()>;
    using Clock = std::chrono::steady_clock;

    explicit SerialQueue(std::string label);
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const;

    void async(Task task);
    void asyncAfter(Clock::duration delay, Task task);
    void asyncAt(Clock::time_point deadline, Task task);

    // Runs `task` on the queue and waits for it. Called from the queue's own
    // thread it runs the task at once instead of deadlocking. An exception
    // thrown by the task reaches the caller. Does nothing once the queue is
    // shutting down.
    void sync(const Task& task);

    // True when called from the queue's own thread.
    bool isCurrent() const;

    // A timer whose handlers run on this queue; see timer.h.
    Timer makeTimer();

    // For the platform layer's own I/O objects (timers, sockets).
    const std::shared_ptr<QueueCore>& core() const { return core_; }

private:
    std::shared_ptr<QueueCore> core_;
    std::thread thread_;
};

}  // namespace ondaline::platform
