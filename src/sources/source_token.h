#pragma once

// Never two sources. Every switch of the audio source takes a new token;
// whatever an earlier switch left under way (a start on the worker, a buffer
// on a source's own thread, a report on its way to the main thread) acts
// only while its token is still the current one, and what a stale start got
// going is stopped again.

#include "platform/dispatch/main_executor.h"
#include "platform/dispatch/serial_queue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace ondaline::sources {

class SourceTokenGate {
public:
    using Token = std::uint64_t;

    // A new token, current from now on; every earlier one is stale for
    // good. Returns once no work held current by whileCurrent() runs.
    Token take();
    // No token is current any more, nor will be (the owner is going);
    // waits like take().
    void close();

    bool isCurrent(Token token) const { return token != 0 && current_.load() == token; }

    // Runs `work` if `token` is current and keeps it current until `work`
    // returns; false when it was stale. `work` must not take a token.
    template <typename Work>
    bool whileCurrent(Token token, Work&& work)
    {
        std::lock_guard lock(mutex_);
        if (!isCurrent(token)) return false;
        std::forward<Work>(work)();
        return true;
    }

private:
    std::mutex mutex_;
    std::atomic<Token> current_{0};  // 0: none; changed under mutex_
    Token last_ = 0;
    bool closed_ = false;
};

// Start work of a source, which may block, run off the main thread in the
// order asked for, and its outcome brought back to the main thread.
class SourceStarter {
public:
    explicit SourceStarter(std::shared_ptr<platform::MainExecutor> mainExecutor);
    // Closes the gate, so the start under way is undone, and waits for it.
    ~SourceStarter();

    SourceStarter(const SourceStarter&) = delete;
    SourceStarter& operator=(const SourceStarter&) = delete;

    const std::shared_ptr<SourceTokenGate>& gate() const { return gate_; }

    // `start` runs on the worker, unless `token` is stale by then. What it
    // returns reaches `finish` on the main thread when the token is still
    // current there; once it is stale, `undo` gets it instead (on the worker
    // or the main thread, whichever sees it first) and `finish` never runs.
    template <typename Result>
    void start(SourceTokenGate::Token token, std::function<Result()> start, std::function<void(Result&)> undo,
               std::function<void(Result&)> finish)
    {
        worker_.async([gate = gate_, main = mainExecutor_, token, start = std::move(start), undo = std::move(undo),
                       finish = std::move(finish)] {
            if (!gate->isCurrent(token)) return;
            auto result = std::make_shared<Result>(start());
            if (!gate->isCurrent(token)) {
                undo(*result);
                return;
            }
            main->post([gate, token, result, undo, finish] {
                if (gate->isCurrent(token)) finish(*result);
                else undo(*result);
            });
        });
    }

private:
    const std::shared_ptr<SourceTokenGate> gate_ = std::make_shared<SourceTokenGate>();
    const std::shared_ptr<platform::MainExecutor> mainExecutor_;
    platform::SerialQueue worker_{"com.ondaline.sourcestart"};
};

}  // namespace ondaline::sources
