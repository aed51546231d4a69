#pragma once

// A controller launched as the program launches it, in a home folder and
// station of the test's own, its TCP input on a port nobody connects to;
// and a controller put live.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "engine/ondaline.h"
#include "sources/tcp_audio_server.h"
#include "support/private_home.h"
#include "support/scripted_rtmp_server.h"
#include "support/tcp_peer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

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

// Live on a scripted RTMP server, which `server` then holds: it must outlive
// the engine's connection. Both of the engine's reports of it are handled.
inline bool goLive(app::TestAppDelegate& controller, std::unique_ptr<TCPPeer>& server)
{
    server = std::make_unique<TCPPeer>([](int socket) {
        ScriptedRTMPServer rtmp(socket);
        if (rtmp.acceptPublish()) rtmp.readUntilClosed();
    });
    controller.scheduleConfig.streamMode = "rtmp";
    controller.scheduleConfig.serverURL = "rtmp://127.0.0.1:" + std::to_string(server->port()) + "/live";
    controller.scheduleConfig.streamKey = "key";
    controller.toggleConnect();
    const bool live = QTest::qWaitFor([&] { return controller.streamer->state() == StreamState::publishing; }, 10000);
    controller.streamer->networkQueue().sync([] {});
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    return live;
}

}  // namespace ondaline::test
