// The real program on a virtual display, used as a person would: its settings
// in a home folder of the test's own, the Start button pressed with xdotool,
// the dashboard read from screenshots, and what reached nginx and icecast2.

#include "support/fault_relay.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <chrono>
#include <filesystem>

using namespace ondaline::test;
using namespace std::chrono_literals;

namespace {

// Xvfb with the program on it; ended (program first) when it goes.
class Desktop {
public:
    explicit Desktop(const QString& home)
    {
        QFile::remove(displayFile_);
        xvfb_.setStandardOutputFile(QProcess::nullDevice());
        xvfb_.setStandardErrorFile(QProcess::nullDevice());
        // Xvfb writes the display it took to the file once it listens.
        xvfb_.start("sh", {"-c", "exec Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>" + displayFile_});
        for (int i = 0; i < 100 && display_.isEmpty(); ++i) {
            QThread::msleep(100);
            QFile file(displayFile_);
            if (file.open(QIODevice::ReadOnly)) display_ = ":" + QString(file.readAll()).trimmed();
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("DISPLAY", display_);
        environment.insert("HOME", home);
        environment.insert("XDG_CONFIG_HOME", home + "/.config");
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::MergedChannels);
        program_.start(ONDALINE_PROGRAM, QStringList{});
    }

    ~Desktop()
    {
        quit();
        xvfb_.terminate();
        xvfb_.waitForFinished(5000);
        QFile::remove(displayFile_);
    }

    bool started() const { return !display_.isEmpty(); }

    // The program's window and where it stands on the screen.
    bool waitForWindow()
    {
        for (int i = 0; i < 200; ++i) {
            const QString id = xdotool({"search", "--onlyvisible", "--classname", "."}).section('\n', 0, 0).trimmed();
            if (!id.isEmpty()) {
                window_ = id;
                const QString geometry = xdotool({"getwindowgeometry", "--shell", window_});
                for (const QString& line : geometry.split('\n')) {
                    if (line.startsWith("X=")) origin_.setX(line.mid(2).toInt());
                    if (line.startsWith("Y=")) origin_.setY(line.mid(2).toInt());
                }
                QThread::msleep(500);  // the first paint
                return true;
            }
            QThread::msleep(100);
        }
        return false;
    }

    // A left click at a point of the window.
    void click(QPoint at)
    {
        xdotool({"mousemove", "--window", window_, QString::number(at.x()), QString::number(at.y())});
        QThread::msleep(100);
        xdotool({"click", "1"});
    }

    // The window as it is on the screen now, with the pointer moved off
    // the buttons so that they show their resting look.
    QImage shot()
    {
        xdotool({"mousemove", "--window", window_, "4", "4"});
        QThread::msleep(200);
        const QString file = display_.mid(1) + "-shot.png";
        QProcess import;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display_);
        import.setProcessEnvironment(environment);
        import.start("import", {"-window", "root", QDir::temp().filePath("ondaline-" + file)});
        import.waitForFinished(20000);
        const QImage screen(QDir::temp().filePath("ondaline-" + file));
        return screen.copy(origin_.x(), origin_.y(), 520, 640).convertToFormat(QImage::Format_RGB32);
    }

    // SIGTERM, as a service manager stops it; its exit code.
    int quit()
    {
        if (program_.state() == QProcess::NotRunning) return program_.exitCode();
        program_.terminate();
        if (!program_.waitForFinished(20000)) program_.kill();
        output_ += QString::fromUtf8(program_.readAll());
        return program_.exitStatus() == QProcess::NormalExit ? program_.exitCode() : -1;
    }

    QString output()
    {
        output_ += QString::fromUtf8(program_.readAll());
        return output_;
    }

private:
    QString xdotool(const QStringList& arguments)
    {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display_);
        tool.setProcessEnvironment(environment);
        tool.start("xdotool", arguments);
        tool.waitForFinished(10000);
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

    QString displayFile_ = QDir::temp().filePath(QString("ondaline-display-%1").arg(QCoreApplication::applicationPid()));
    QProcess xvfb_, program_;
    QString display_, window_, output_;
    QPoint origin_;
};

// A station folder in `home` with a settings file, found through the dot file.
void writeStation(const QString& home, const QString& settingsJSON)
{
    const QString station = home + "/station";
    QDir().mkpath(station + "/Misc/System/Streamer");
    QDir().mkpath(station + "/Music");
    QFile pointer(home + "/.ondaline_station");
    QVERIFY(pointer.open(QIODevice::WriteOnly));
    pointer.write(station.toUtf8());
    QFile settings(station + "/Misc/System/Streamer/ondaline_schedule.json");
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(settingsJSON.toUtf8());
}

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
        Desktop desktop(home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.output()));

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
                                                  "stream=codec_name -of default=noprint_wrappers=1 " + file)
                                           .output)
                    .contains("codec_name=h264"));

        // Start again, then the server goes away: the retry notice on the
        // grey button's look.
        desktop.click(startButton);
        QVERIFY(relay.waitUntil([&](const FaultRelay::Counters& c) { return c.accepted >= 2 && c.toServer > 100000; }, 30s));
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
        Desktop desktop(home.path());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.output()));
        desktop.click(startButton);
        const QString stats = QString("curl -s -u admin:%1 http://127.0.0.1:%2/admin/stats")
                                  .arg(QString::fromStdString(icecast.at("ONDALINE_ICECAST_ADMIN_PASSWORD")),
                                       QString::fromStdString(icecast.at("ONDALINE_ICECAST_PORT")));
        QTRY_VERIFY_WITH_TIMEOUT(QString::fromStdString(runCommand(stats.toStdString()).output)
                                     .contains("<source mount=\"" + mount + "\">"),
                                 20000);
        QCOMPARE(desktop.quit(), 0);
    }

    void withoutADisplayItSaysSoAndEnds()
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(ONDALINE_PROGRAM, QStringList{});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 1);
        const QString output = QString::fromUtf8(program.readAll()).trimmed();
        QVERIFY2(output.contains("needs a display") && !output.contains('\n'), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(DashboardEndToEnd)
#include "dashboard_e2e_test.moc"
