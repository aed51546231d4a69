#include "platform/dispatch/serial_queue.h"

#include "platform/dispatch/loose_threads.h"
#include "platform/dispatch/queue_core.h"
#include "platform/dispatch/timer.h"
#include "platform/standard_stream.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <pthread.h>

#include <exception>
#include <future>

namespace ondaline::platform {

namespace {

void runQueue(const std::shared_ptr<QueueCore>& core)
{
    // Thread names are limited to 15 characters; the end of a reverse-DNS
    // label is the telling part.
    const std::string& label = core->label;
    const std::string name = label.size() > 15 ? label.substr(label.size() - 15) : label;
    pthread_setname_np(pthread_self(), name.c_str());
    core->threadId.store(std::this_thread::get_id(), std::memory_order_release);

    for (;;) {
        try {
            core->io.run();
            return;
        } catch (const std::exception& e) {
            StandardStream::error().write("SerialQueue " + label + ": task threw: " + e.what() + "\n");
        } catch (...) {
            StandardStream::error().write("SerialQueue " + label + ": task threw a non-standard exception\n");
        }
    }
}

}  // namespace

SerialQueue::SerialQueue(std::string label) : core_(std::make_shared<QueueCore>(std::move(label)))
{
    thread_ = std::thread([core = core_]() mutable {
        runQueue(core);
        // What the tasks left behind goes with the core here, before an exit
        // waiting for a queue let go by its owner hears that it has ended.
        core.reset();
        loose_threads::ended();
    });
}

SerialQueue::~SerialQueue()
{
    core_->stopped.store(true, std::memory_order_release);
    core_->work.reset();
    core_->io.stop();
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Destroyed from one of our own tasks: the thread still holds the
        // core and ends by itself once that task has returned.
        loose_threads::letGo();
        thread_.detach();
    } else {
        thread_.join();
    }
}

const std::string& SerialQueue::label() const { return core_->label; }

bool SerialQueue::isCurrent() const { return core_->isCurrent(); }

void SerialQueue::async(Task task)
{
    if (core_->isStopped()) return;
    asio::post(core_->io, std::move(task));
}

void SerialQueue::asyncAfter(Clock::duration delay, Task task) { asyncAt(Clock::now() + delay, std::move(task)); }

void SerialQueue::asyncAt(Clock::time_point deadline, Task task)
{
    if (core_->isStopped()) return;
    auto timer = std::make_shared<asio::steady_timer>(core_->io, deadline);
    timer->async_wait([timer, task = std::move(task)](const asio::error_code& ec) {
        if (!ec) task();
    });
}

void SerialQueue::sync(const Task& task)
{
    if (isCurrent()) {
        task();
        return;
    }
    if (core_->isStopped()) return;

    // The promise travels with the task: if the queue drops the task unrun,
    // the promise is destroyed with it and the waiter is released.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    asio::post(core_->io, [&task, done = std::move(done)] {
        try {
            task();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    });
    try {
        finished.get();
    } catch (const std::future_error& e) {
        // A broken promise means the queue shut down and dropped the task.
        if (e.code() != std::future_errc::broken_promise) throw;
    }
}

Timer SerialQueue::makeTimer() { return Timer(core_); }

}  // namespace ondaline::platform
