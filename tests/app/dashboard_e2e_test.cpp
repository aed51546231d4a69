// The real program on a virtual display, used as a person would: its settings
// in a home folder of the test's own, the Start button pressed with xdotool,
// the dashboard read from screenshots, and what reached nginx and icecast2.

#include "support/desktop_session.h"
#include "support/fault_relay.h"
#include "support/needs.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <chrono>

#include <filesystem>
#include <unistd.h>

using namespace ondaline::test;
using namespace std::chrono_literals;

namespace {

// Points of the window (the face starts at 14, 14).
const QPoint startButton(14 + 89 + 75, 14 + 508 + 18);
const QPoint buttonBody(14 + 89 + 12, 14 + 508 + 18);  // beside the title
const QPoint lamp(14 + 239 + 7, 14 + 315 + 7);

bool near(QRgb pixel, double red, double green, double blue, int tolerance = 12)
{
    return std::abs(qRed(pixel) - red * 255) <= tolerance && std::abs(qGreen(pixel) - green * 255) <= tolerance &&
           std::abs(qBlue(pixel) - blue * 255) <= tolerance;
}

// Some pixel of the status line (face y 564 to 580) is clearly green.
bool statusLooksGreen(const QImage& window)
{
    for (int y = 14 + 564; y < 14 + 580; ++y) {
        for (int x = 14; x < 14 + 492; ++x) {
            const QRgb p = window.pixel(x, y);
            if (qGreen(p) > 110 && qGreen(p) > 2 * qRed(p) && qGreen(p) > 2 * qBlue(p)) return true;
        }
    }
    return false;
}

std::string describe(QRgb pixel) { return QString::number(pixel, 16).toStdString(); }

}  // namespace

class DashboardEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void startStopAndARetryThatAPressEnds()
    {
        const auto rtmp = loadPeerEnv("rtmp");
        QVERIFY2(!rtmp.empty(), "the rtmp peer is not running");
        FaultRelay relay(static_cast<std::uint16_t>(std::stoi(rtmp.at("ONDALINE_RTMP_PORT"))));
        QTemporaryDir home;
        const QString key = QString("dashboard-%1").arg(QCoreApplication::applicationPid());
        writeStation(home.path(), QString("{\"stationName\": \"Radio Test\", \"streamMode\": \"rtmp\", "
                                          "\"audioSource\": \"tcp\", \"serverURL\": \"rtmp://127.0.0.1:%1/live\", "
                                          "\"streamKey\": \"%2\", \"audioBitrate\": 128000}")
                                      .arg(relay.port())
                                      .arg(key));
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));

        // Idle, no sender on the TCP input: gold button, lamp off.
        QImage window = desktop.shot();
        QVERIFY2(near(window.pixel(buttonBody), 0.78, 0.59, 0.19), describe(window.pixel(buttonBody)).c_str());
        QVERIFY2(qGreen(window.pixel(lamp)) < 90, describe(window.pixel(lamp)).c_str());

        // Start: live, green button, lamp lit, green status line.
        desktop.click(startButton);
        QVERIFY(relay.waitUntil([](const FaultRelay::Counters& c) { return c.toServer > 200000; }, 30s));
        window = desktop.shot();
        QVERIFY2(near(window.pixel(buttonBody), 0.20, 0.60, 0.20), describe(window.pixel(buttonBody)).c_str());
        QVERIFY2(qGreen(window.pixel(lamp)) > 150, describe(window.pixel(lamp)).c_str());
        QVERIFY(statusLooksGreen(window));

        // Stop: gold again, lamp off, and the recording is finished.
        desktop.click(startButton);
        QThread::msleep(1500);
        window = desktop.shot();
        QVERIFY2(near(window.pixel(buttonBody), 0.78, 0.59, 0.19), describe(window.pixel(buttonBody)).c_str());
        QVERIFY2(qGreen(window.pixel(lamp)) < 90, describe(window.pixel(lamp)).c_str());
        const std::string file = recordingOf(rtmp.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
        QVERIFY(!file.empty());
        const auto size = std::filesystem::file_size(file);
        QThread::msleep(1000);
        QCOMPARE(std::filesystem::file_size(file), size);
        QCOMPARE(QString::fromStdString(probeAudio(file, "stream=codec_name")), QString("codec_name=aac\n"));
        QVERIFY(QString::fromStdString(runCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                                  "stream=codec_name -of default=noprint_wrappers=1 " +
                                                  file)
                                           .output)
                    .contains("codec_name=h264"));

        // Start again, then the server goes away: the retry notice on the
        // grey button's look.
        desktop.click(startButton);
        QVERIFY(relay.waitUntil([&](const FaultRelay::Counters& c) { return c.accepted >= 2 && c.toServer > 100000; },
                                30s));
        relay.refuse(true);
        relay.cut();
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: Reconnecting in "), 20000);
        QThread::msleep(500);
        window = desktop.shot();
        QVERIFY2(near(window.pixel(buttonBody), 0.18, 0.18, 0.18, 12), describe(window.pixel(buttonBody)).c_str());

        // A press ends the retry; with the server back nothing connects.
        desktop.click(startButton);
        QThread::msleep(500);
        window = desktop.shot();
        QVERIFY2(near(window.pixel(buttonBody), 0.78, 0.59, 0.19), describe(window.pixel(buttonBody)).c_str());
        const auto before = relay.counters();
        relay.refuse(false);
        QThread::msleep(12000);  // past the first back-off steps
        QCOMPARE(relay.counters().accepted, before.accepted);
        QCOMPARE(relay.counters().refused, before.refused);
        QCOMPARE(desktop.quit(), 0);
    }

    // The log piped into a reader that stops after 40 lines, as a station's
    // log rotator may: the stream goes on until it is stopped.
    void streamOutlivesTheReaderOfItsLog()
    {
        const auto rtmp = loadPeerEnv("rtmp");
        QVERIFY2(!rtmp.empty(), "the rtmp peer is not running");
        QTemporaryDir home;
        const QString key = QString("log-reader-%1").arg(QCoreApplication::applicationPid());
        writeStation(home.path(), QString("{\"streamMode\": \"rtmp\", \"audioSource\": \"tcp\", "
                                          "\"serverURL\": \"%1\", \"streamKey\": \"%2\", \"audioBitrate\": 128000}")
                                      .arg(QString::fromStdString(rtmp.at("ONDALINE_RTMP_URL")), key));
        QFile wrapper(home.path() + "/into-head");
        QVERIFY(wrapper.open(QIODevice::WriteOnly));
        wrapper.write("#!/bin/bash\nexec " ONDALINE_PROGRAM " > >(head -n 40 > \"$HOME/head.log\")\n");
        wrapper.close();
        QVERIFY(wrapper.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        Desktop desktop(home.path() + "/into-head", home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(startButton);

        // Live, with the reader gone: head has its 40 lines and has exited.
        auto headLines = [&] {
            QFile log(home.path() + "/head.log");
            return log.open(QIODevice::ReadOnly) ? log.readAll().count('\n') : 0;
        };
        QTRY_COMPARE_WITH_TIMEOUT(headLines(), 40, 30000);
        std::string file;
        QTRY_VERIFY_WITH_TIMEOUT(!(file = recordingOf(rtmp.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString())).empty(),
                                 20000);
        QThread::msleep(3000);
        const auto size = std::filesystem::file_size(file);
        QThread::msleep(3000);
        QVERIFY2(desktop.waitForExit(0) == Desktop::stillRunning, qPrintable(desktop.describe()));
        QVERIFY(std::filesystem::file_size(file) > size + 20000);
        QCOMPARE(desktop.quit(), 0);
        QVERIFY(audioSpan(file) > 5.0);
    }

    void icecastStartReachesTheServer()
    {
        const auto icecast = loadPeerEnv("icecast");
        QVERIFY2(!icecast.empty(), "the icecast peer is not running");
        QTemporaryDir home;
        const QString mount = QString("/dashboard-%1.aac").arg(QCoreApplication::applicationPid());
        writeStation(home.path(), QString("{\"streamMode\": \"icecast\", \"audioSource\": \"tcp\", "
                                          "\"icecastHost\": \"127.0.0.1\", \"icecastPort\": %1, "
                                          "\"icecastMount\": \"%2\", \"icecastPassword\": \"%3\", "
                                          "\"audioBitrate\": 128000}")
                                      .arg(QString::fromStdString(icecast.at("ONDALINE_ICECAST_PORT")), mount,
                                           QString::fromStdString(icecast.at("ONDALINE_ICECAST_SOURCE_PASSWORD"))));
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(startButton);
        const QString stats = QString("curl -s -u admin:%1 http://127.0.0.1:%2/admin/stats")
                                  .arg(QString::fromStdString(icecast.at("ONDALINE_ICECAST_ADMIN_PASSWORD")),
                                       QString::fromStdString(icecast.at("ONDALINE_ICECAST_PORT")));
        QTRY_VERIFY_WITH_TIMEOUT(
            QString::fromStdString(runCommand(stats.toStdString()).output).contains("<source mount=\"" + mount + "\">"),
            20000);
        QCOMPARE(desktop.quit(), 0);
    }

    // Without a display it says so and ends, unless Qt's own arguments say
    // where to draw, as the README promises.
    void withoutADisplayItSaysSoUnlessQtIsTold()
    {
        QTemporaryDir home;
        writeStation(home.path(), "{}");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        const QString started = "Dashboard: Switched to";
        for (const QStringList& arguments :
             {QStringList{}, QStringList{"-platform", "offscreen"}, QStringList{"--platform", "offscreen"}}) {
            QProcess program;
            program.setProcessEnvironment(environment);
            program.setProcessChannelMode(QProcess::MergedChannels);
            program.start(ONDALINE_PROGRAM, arguments);
            QString output;
            while (!output.contains("needs a display") && !output.contains(started) && program.waitForReadyRead(20000))
                output += QString::fromUtf8(program.readAll());
            if (arguments.isEmpty()) {
                QVERIFY(program.waitForFinished(20000));
                QCOMPARE(program.exitCode(), 1);
                output = (output + QString::fromUtf8(program.readAll())).trimmed();
                QVERIFY2(output.contains("needs a display") && !output.contains('\n'), qPrintable(output));
                continue;
            }
            QVERIFY2(output.contains(started), qPrintable(arguments.join(' ') + ": " + output));
            program.terminate();
            QVERIFY(program.waitForFinished(20000));
            QCOMPARE(program.exitCode(), 0);
        }

        // Qt's -display in place of the variable.
        QFile wrapper(home.path() + "/display-argument");
        QVERIFY(wrapper.open(QIODevice::WriteOnly));
        wrapper.write("#!/bin/sh\nd=$DISPLAY\nunset DISPLAY\nexec " ONDALINE_PROGRAM " -display \"$d\"\n");
        wrapper.close();
        QVERIFY(wrapper.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        Desktop desktop(wrapper.fileName(), home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        QCOMPARE(desktop.quit(), 0);
    }

    // The X server answers on its abstract socket though its socket file is
    // gone (a container with a /tmp of its own): the program connects as
    // X clients do. Only the program's own mount namespace loses the file.
    void displayWithoutItsSocketFileStillOpens()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "a private mount namespace needs root");
        QTemporaryDir home;
        writeStation(home.path(), "{\"audioSource\": \"tcp\"}");
        QFile wrapper(home.path() + "/without-socket-file");
        QVERIFY(wrapper.open(QIODevice::WriteOnly));
        wrapper.write("#!/bin/sh\nexec unshare --mount --propagation private sh -c "
                      "'mount -t tmpfs none /tmp/.X11-unix && exec \"$0\"' " ONDALINE_PROGRAM "\n");
        wrapper.close();
        QVERIFY(wrapper.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        Desktop desktop(home.path() + "/without-socket-file", home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        QVERIFY(QFileInfo::exists("/tmp/.X11-unix/X" + desktop.display().mid(1)));  // ours is untouched
        QCOMPARE(desktop.quit(), 0);
    }
};

QTEST_GUILESS_MAIN(DashboardEndToEnd)
#include "dashboard_e2e_test.moc"
