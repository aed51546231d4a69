#pragma once

#include "base/engine_types.h"

#include <cstdint>
#include <string>

namespace ondaline {

class Ondaline;

// How the engine reports back. Every call arrives on the main executor; an
// adopter overrides only what it needs. The engine holds its delegate weakly.
class OndalineDelegate {
public:
    virtual ~OndalineDelegate() = default;

    // Publishing has started.
    virtual void ondalineDidConnect(Ondaline&) {}
    // Streaming was ended by disconnect().
    virtual void ondalineDidDisconnect(Ondaline&) {}
    // The state changed. `state` is the state when the call runs, which after
    // two quick changes may already be the later one for both calls.
    virtual void ondalineDidChangeState(Ondaline&, StreamState /*state*/) {}
    // An error, or a notice that the engine is retrying ("Reconnecting …"):
    // `kind` tells which, `message` is worded for the user.
    virtual void ondalineDidEncounterError(Ondaline&, const std::string& /*message*/, NoticeKind /*kind*/) {}
    // Once a second while streaming.
    virtual void ondalineDidUpdateStats(Ondaline&, std::uint64_t /*bytesSent*/, std::uint64_t /*packetsSent*/) {}
};

}  // namespace ondaline
