// Steps of the engine whose full behaviour comes with the video pipeline. Until then they do the least
// that is still true.

#include "engine/ondaline.h"

namespace ondaline {


// No video encoder yet: the stream goes on with audio only.
bool Ondaline::setupVideoEncoder() { return false; }
void Ondaline::destroyVideoEncoder() {}
void Ondaline::stopVideoTimer() {}


}  // namespace ondaline
