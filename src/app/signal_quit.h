#pragma once

namespace ondaline::app {

// SIGINT, SIGTERM and SIGHUP (Ctrl+C, a service manager, the terminal
// closed) quit the application as its Quit does: the event loop ends and
// everything is torn down in order. A hang-up ignored at the start (nohup)
// stays ignored. Call once, after the QApplication exists.
void quitOnTerminationSignals();

}  // namespace ondaline::app
