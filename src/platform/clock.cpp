#include "platform/clock.h"

#include <chrono>

namespace ondaline::platform {

double absoluteTime()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void ManualClock::advance(double seconds)
{
    double current = seconds_.load(std::memory_order_acquire);
    while (!seconds_.compare_exchange_weak(current, current + seconds, std::memory_order_acq_rel)) {
    }
}

}  // namespace ondaline::platform
