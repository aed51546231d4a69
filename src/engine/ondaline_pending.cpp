// Steps of the engine whose full behaviour comes with the RTMP session, the
// health monitor, the Icecast client and the media pipeline. Until then they
// do the least that is still true.

#include "engine/ondaline.h"

namespace ondaline {

// The RTMP handshake is not built yet: the connection stays in the
// handshaking state until the user stops or the peer closes.
void Ondaline::beginHandshake() {}

// No stream id can exist before the publish sequence is built, so these are
// never reached with anything to send.
void Ondaline::sendFCUnpublish() {}
void Ondaline::sendDeleteStream() {}

void Ondaline::stopHealthMonitor() {}

void Ondaline::connectIcecast() { reportError("Icecast streaming is not available in this build"); }

void Ondaline::cleanupIcecastConnection() {}

// No audio encoder yet: a stream goes live without audio.
bool Ondaline::setupEncoder() { return true; }
void Ondaline::destroyEncoder() {}
void Ondaline::destroyVideoEncoder() {}
void Ondaline::stopCarrierWatchdog() {}
void Ondaline::stopVideoTimer() {}

}  // namespace ondaline
