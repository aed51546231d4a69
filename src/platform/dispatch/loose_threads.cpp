#include "platform/dispatch/loose_threads.h"

#include <openssl/crypto.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace ondaline::platform::loose_threads {

namespace {

using namespace std::chrono_literals;

struct Threads {
    std::mutex lock;
    std::condition_variable changed;
    int running = 0;
};

// Used at exit, after static objects may have gone: never destroyed.
Threads& threads()
{
    static auto* const all = new Threads;
    return *all;
}

// A thread that was let go and calls exit() itself does not wait for itself.
thread_local bool isLoose = false;

void waitAtExit()
{
    auto& all = threads();
    const int self = isLoose ? 1 : 0;
    std::unique_lock lock(all.lock);
    // Bounded: a thread stuck in its owner's teardown does not hold the
    // process up for ever.
    all.changed.wait_for(lock, 5s, [&] { return all.running <= self; });
}

}  // namespace

void letGo()
{
    // Exit handlers run last registered first: OpenSSL's own, which frees
    // what it keeps for each thread, is registered when it starts, so it
    // is started before ours goes in and runs after the wait.
    static const bool registered = OPENSSL_init_crypto(0, nullptr) != 0 && std::atexit(waitAtExit) == 0;
    (void)registered;
    isLoose = true;
    std::lock_guard lock(threads().lock);
    ++threads().running;
}

void ended()
{
    if (!isLoose) return;
    // What OpenSSL keeps for this thread (its random generators, among
    // others) is freed now, not at the thread's very end, which may come
    // after OpenSSL's own exit handler.
    OPENSSL_thread_stop();
    auto& all = threads();
    std::lock_guard lock(all.lock);
    --all.running;
    all.changed.notify_all();
}

}  // namespace ondaline::platform::loose_threads
