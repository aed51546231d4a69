#pragma once

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

// Why no window can be shown, or nothing when one can: Qt would abort the
// process where no display answers, so the program asks first. A platform
// chosen by name is trusted as it is.
std::optional<std::string> displayProblem(const DisplayEnvironment& environment);

}  // namespace ondaline::app
