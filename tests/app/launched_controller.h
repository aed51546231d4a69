#pragma once

// A controller launched as the program launches it, in a home folder and
// station of the test's own, its TCP input on a port nobody connects to.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "sources/tcp_audio_server.h"
#include "support/private_home.h"
#include "support/tcp_peer.h"

#include <QDir>
#include <QFile>

#include <functional>
#include <memory>

namespace ondaline::test {

// HOME at `home`, whose dot file names "<home>/Station" (with a Music folder).
inline bool usePrivateStation(const QString& home)
{
    usePrivateHome(home);
    QDir().mkpath(home + "/Station/Music");
    QFile dot(home + "/.ondaline_station");
    return dot.open(QIODevice::WriteOnly) && dot.write((home + "/Station").toUtf8()) > 0;
}

// `prepare` runs on the controller before it is launched.
inline std::unique_ptr<app::TestAppDelegate> launchController(
    const std::shared_ptr<app::QtMainExecutor>& main, const std::function<void(app::TestAppDelegate&)>& prepare = {})
{
    auto controller = std::make_unique<app::TestAppDelegate>(main);
    controller->tcpServer = sources::TCPAudioServer::create(main, closedPort());
    if (prepare) prepare(*controller);
    controller->applicationDidFinishLaunching();
    return controller;
}

}  // namespace ondaline::test
