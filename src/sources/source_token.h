#pragma once

// Never two sources. Every switch of the audio source takes a new token;
// whatever an earlier switch left under way (a buffer on a source's own
// thread, a report on its way to the main thread) acts only while its token
// is still the current one.

#include <atomic>
#include <cstdint>
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

}  // namespace ondaline::sources
