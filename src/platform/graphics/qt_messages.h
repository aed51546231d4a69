#pragma once

namespace ondaline::platform {

// Qt's warnings go to standard error through the program's queue, not by
// Qt's handler, which writes on the thread that raises them (often the
// window's) and would freeze it on a paused terminal.
void routeQtMessagesThroughStandardError();

}  // namespace ondaline::platform
