#include "app/display_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <netdb.h>

#include <QFileInfo>
#include <QLibraryInfo>

namespace ondaline::app {

namespace {

const char* const needDisplay = "Ondaline needs a display and none could be opened: run it in a graphical session, "
                                "or on a virtual one with xvfb-run";

std::optional<std::string> variable(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

DisplayConnection connectTo(int family, const sockaddr* address, socklen_t length)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    DisplayConnection connection(fd);
    if (::connect(fd, address, length) != 0) return {};
    return connection;
}

DisplayConnection unixSocketAnswers(const std::string& path, bool abstract = false)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // An abstract name starts with a zero byte and is as long as it is.
    const std::size_t offset = abstract ? 1 : 0;
    if (offset + path.size() >= sizeof(address.sun_path)) return {};
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const auto length = abstract ? static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size())
                                 : static_cast<socklen_t>(sizeof(address));
    return connectTo(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length);
}

// An X display "[host]:number[.screen]": its local socket, or TCP port
// 6000 + number on the host.
DisplayConnection xServerAnswers(const std::string& display)
{
    const auto colon = display.rfind(':');
    if (colon == std::string::npos) return {};
    const std::string host = display.substr(0, colon);
    const int number = std::atoi(display.c_str() + colon + 1);
    if (host.empty() || host == "unix") {
        // As libxcb connects: the abstract socket first, then the file,
        // which may be gone (another /tmp, or removed by another server's
        // exit) while the server still answers.
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        DisplayConnection connection = unixSocketAnswers(path, /*abstract=*/true);
        return connection.isOpen() ? std::move(connection) : unixSocketAnswers(path);
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(6000 + number).c_str(), &hints, &found) != 0) return {};
    DisplayConnection connection;
    for (addrinfo* a = found; a && !connection.isOpen(); a = a->ai_next)
        connection = connectTo(a->ai_family, a->ai_addr, a->ai_addrlen);
    ::freeaddrinfo(found);
    return connection;
}

}  // namespace

DisplayEnvironment DisplayEnvironment::current(int argc, const char* const* argv)
{
    const QString plugin = QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so";
    DisplayEnvironment environment{variable("DISPLAY"), variable("WAYLAND_DISPLAY"), variable("XDG_RUNTIME_DIR"),
                                   variable("QT_QPA_PLATFORM"), QFileInfo::exists(plugin)};
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool platform = argument == "-platform" || argument == "--platform";
        if (!platform && argument != "-display" && argument != "--display") continue;
        const char* value = argv[++i];
        if (*value) (platform ? environment.qpaPlatform : environment.display) = value;
    }
    return environment;
}

std::optional<std::string> displayProblem(const DisplayEnvironment& environment, DisplayConnection* answered)
{
    if (environment.qpaPlatform) return std::nullopt;
    DisplayConnection connection;
    if (environment.display) connection = xServerAnswers(*environment.display);
    // A Wayland session without X serves Qt only through its Wayland plugin.
    if (!connection.isOpen() && environment.waylandDisplay && environment.hasWaylandPlugin) {
        const std::string& name = *environment.waylandDisplay;
        const std::string path = name.starts_with("/") ? name : environment.runtimeDir.value_or("") + "/" + name;
        connection = unixSocketAnswers(path);
    }
    if (!connection.isOpen()) return std::string(needDisplay);
    if (answered) *answered = std::move(connection);
    return std::nullopt;
}

}  // namespace ondaline::app
