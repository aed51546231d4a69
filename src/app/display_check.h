#pragma once

#include "platform/file_descriptor.h"

#include <optional>
#include <string>

namespace ondaline::app {

// What the process environment and the command line say about a display,
// read before Qt starts.
struct DisplayEnvironment {
    std::optional<std::string> display;         // DISPLAY, or Qt's -display argument
    std::optional<std::string> waylandDisplay;  // WAYLAND_DISPLAY
    std::optional<std::string> runtimeDir;      // XDG_RUNTIME_DIR
    std::optional<std::string> qpaPlatform;     // QT_QPA_PLATFORM, or Qt's -platform argument
    bool hasWaylandPlugin = false;              // Qt can speak Wayland here

    // The variables, then the arguments Qt takes in their place, which win
    // as they do in Qt: "-platform X" and "-display D", each also with "--".
    static DisplayEnvironment current(int argc, const char* const* argv);
};

// The connection by which a display answered the check below. It is to be
// held until Qt has connected on its own: an X server started without
// -noreset (xvfb-run's) resets when its last client hangs up, and drops the
// connections that arrive meanwhile, Qt's among them.
using DisplayConnection = platform::FileDescriptor;

// Why no window can be shown, or nothing when one can: Qt would abort the
// process where no display answers, so the program asks first. A platform
// chosen by name is trusted as it is. The connection that answered, if
// any, is handed to `answered`.
std::optional<std::string> displayProblem(const DisplayEnvironment& environment, DisplayConnection* answered = nullptr);

}  // namespace ondaline::app
