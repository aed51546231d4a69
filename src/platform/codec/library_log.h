#pragma once

namespace ondaline::platform {

// FFmpeg's own messages: errors only (its statistics at close are not ours
// to print), and through the program's standard-error queue, so that a
// stalled terminal never holds up the thread that decodes or encodes.
void routeLibraryLog();

}  // namespace ondaline::platform
