#include "base/stream_state_holder.h"

#include "base/print.h"

namespace ondaline {

void StreamStateHolder::set(StreamState newState)
{
    const StreamState old = state_.exchange(newState, std::memory_order_acq_rel);
    if (old == newState) return;
    print("Ondaline: State → " + std::string(rawValue(newState)));
    if (announce_) announce_();
}

}  // namespace ondaline
