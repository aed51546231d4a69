// Steps of the engine whose full behaviour comes with the health monitor
// and the video pipeline. Until then they do the least
// that is still true.

#include "engine/ondaline.h"

namespace ondaline {

void Ondaline::startHealthMonitor() {}
void Ondaline::stopHealthMonitor() {}
void Ondaline::handleServerAck(const Bytes&) {}
void Ondaline::handlePongResponse(std::uint32_t) {}

// The server ended our stream: tear down and come back through the
// back-off reconnect.
void Ondaline::triggerHealthReconnect(const std::string& reason) { reportError(reason); }


// No video encoder yet: the stream goes on with audio only.
bool Ondaline::setupVideoEncoder() { return false; }
void Ondaline::destroyVideoEncoder() {}
void Ondaline::stopVideoTimer() {}


}  // namespace ondaline
