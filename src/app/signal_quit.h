#pragma once

namespace ondaline::app {

// SIGINT and SIGTERM (Ctrl+C, a service manager) quit the application as
// its Quit does: the event loop ends and everything is torn down in order.
// Call once, after the QApplication exists.
void quitOnTerminationSignals();

}  // namespace ondaline::app
