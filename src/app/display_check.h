#pragma once

#include <optional>
#include <string>

namespace ondaline::app {

// What the process environment says about a display, read before Qt starts.
struct DisplayEnvironment {
    std::optional<std::string> display;         // DISPLAY
    std::optional<std::string> waylandDisplay;  // WAYLAND_DISPLAY
    std::optional<std::string> runtimeDir;      // XDG_RUNTIME_DIR
    std::optional<std::string> qpaPlatform;     // QT_QPA_PLATFORM
    bool hasWaylandPlugin = false;              // Qt can speak Wayland here

    static DisplayEnvironment current();
};

// Why no window can be shown, or nothing when one can: Qt would abort the
// process where no display answers, so the program asks first. A platform
// chosen through QT_QPA_PLATFORM is trusted as it is.
std::optional<std::string> displayProblem(const DisplayEnvironment& environment);

}  // namespace ondaline::app
