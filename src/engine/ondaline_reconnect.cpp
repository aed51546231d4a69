// How the reconnection rules reach the engine's state, delegate and timer.

#include "engine/ondaline.h"

namespace ondaline {

Reconnector::Hooks Ondaline::reconnectorHooks()
{
    return Reconnector::Hooks{
        .setState = [this](StreamState state) { setState(state); },
        .notifyError =
            [this](NoticeKind kind, std::function<std::string()> message) {
                notifyDelegate([kind, message = std::move(message)](OndalineDelegate& delegate, Ondaline& self) {
                    delegate.ondalineDidEncounterError(self, message(), kind);
                });
            },
        .schedule =
            [this](std::chrono::seconds delay, std::function<void()> fire) {
                reconnectTimer_.scheduleAfter(delay, [weakSelf = weak_from_this(), fire = std::move(fire)] {
                    if (const auto self = weakSelf.lock()) fire();  // the engine is gone: nothing to restore
                });
            },
        .cancelScheduled = [this] { reconnectTimer_.cancel(); },
        .connect = [this] { connectOnNetworkQueue(); },
    };
}

}  // namespace ondaline
