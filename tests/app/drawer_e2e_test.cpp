// The settings drawer of the built program, used as a person would on a
// virtual display: what is typed and chosen on its page reaches the settings
// file and the stream nginx records, an Icecast port out of range is stored
// yet refused at Start without harm, and the page's rows sit where each
// service puts them while the window widens for the drawer.

#include "support/desktop_session.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"
#include "support/tone_analysis.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

using namespace ondaline::test;

namespace {

// Points of the window (the console face starts at 14, 14).
const QPoint startButton(14 + 89 + 75, 14 + 508 + 18);
const QPoint settingsButton(14 + 89 + 164 + 75, 14 + 508 + 18);

// A point of the open settings page: `x` across its 310-px column, `y` down the page.
QPoint onPage(int x, int y) { return {538 + x, 14 + y}; }

// ⚙ opens or closes the drawer; the slide takes 400 ms at most.
void toggleDrawer(Desktop& desktop)
{
    desktop.click(settingsButton);
    QThread::msleep(700);
}

QJsonObject storedSettings(const QString& station)
{
    QFile file(station + "/Misc/System/Streamer/ondaline_schedule.json");
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

int brightness(QRgb pixel) { return qRed(pixel) + qGreen(pixel) + qBlue(pixel); }

// A divider at page row `y`: at most points across the column, slightly
// lighter (a faint white) than the face 3 px above and below it, which
// differ little from each other (the face's gradient) as no control is there.
bool dividerAt(const QImage& window, int y)
{
    int lighter = 0;
    for (int k = 5; k < 310; k += 25) {
        const QPoint at = onPage(k, y);
        const int line = brightness(window.pixel(at)), above = brightness(window.pixel(at.x(), at.y() - 3)),
                  below = brightness(window.pixel(at.x(), at.y() + 3));
        lighter += std::abs(above - below) < 10 && line - std::max(above, below) > 15 &&
                   line - std::max(above, below) < 75;
    }
    return lighter >= 10;  // of 13
}

// The audio track's average bit rate in bit/s.
double audioBitRate(const std::string& file)
{
    const std::string sizes = runCommand("ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 " +
                                         shellQuote(file))
                                  .output;
    double bytes = 0;
    for (const QString& line : QString::fromStdString(sizes).split('\n', Qt::SkipEmptyParts)) bytes += line.toDouble();
    return bytes * 8 / audioSpan(file);
}

}  // namespace

class DrawerEndToEnd : public QObject {
    Q_OBJECT
private slots:
    // The program's settings file holds the key only where no one else
    // reads it: files are made so here.
    void initTestCase() { ::umask(077); }

    void typedServerKeyAndBitrateReachTheRecording()
    {
        const auto rtmp = loadPeerEnv("rtmp");
        QVERIFY2(!rtmp.empty(), "the rtmp peer is not running");
        QTemporaryDir home;
        const QString station = writeStation(home.path(), "{\"streamMode\": \"rtmp\", \"audioSource\": \"local\", "
                                                          "\"serverURL\": \"rtmp://nowhere.invalid/app\", "
                                                          "\"streamKey\": \"stale\", \"audioBitrate\": 128000}");
        writeToneFLAC((station + "/Music/a.flac").toStdString(), 44100, 2, 440, 30);
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));

        const QString url = QString::fromStdString(rtmp.at("ONDALINE_RTMP_URL"));
        const QString key = QString("drawer-%1").arg(QCoreApplication::applicationPid());
        toggleDrawer(desktop);
        desktop.click(onPage(150, 297 + 14));  // SERVER URL
        desktop.key("ctrl+a");
        desktop.type(url);
        desktop.click(onPage(150, 354 + 14));  // STREAM KEY
        desktop.key("ctrl+a");
        desktop.type(key);
        desktop.click(onPage(150, 426 + 13));  // BITRATE: its list opens
        QThread::msleep(300);
        desktop.key("Home Return");  // "96 kbps", the first item
        toggleDrawer(desktop);       // closing saves
        QTRY_VERIFY_WITH_TIMEOUT(storedSettings(station)["audioBitrate"].toInteger() == 96000, 5000);
        const QJsonObject stored = storedSettings(station);
        QCOMPARE(stored["serverURL"].toString(), url);
        QCOMPARE(stored["streamKey"].toString(), key);

        desktop.click(startButton);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: ✓ Publishing live!"), 20000);
        QThread::msleep(9000);
        desktop.click(startButton);
        QThread::msleep(500);
        QCOMPARE(desktop.quit(), 0);
        const std::string file = recordingOf(rtmp.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
        QVERIFY2(!file.empty(), qPrintable(desktop.output()));
        QVERIFY(audioSpan(file) > 7);
        const double rate = audioBitRate(file);
        QVERIFY2(std::abs(rate - 96000) < 96000 * 0.15, qPrintable(QString::number(rate)));
    }

    // Start pressed while the typed key still waits for its autosave goes
    // live with that key.
    void startRightAfterTypingTheKeyUsesIt()
    {
        const auto rtmp = loadPeerEnv("rtmp");
        QVERIFY2(!rtmp.empty(), "the rtmp peer is not running");
        QTemporaryDir home;
        const QString station = writeStation(home.path(), "{\"streamMode\": \"rtmp\", \"audioSource\": \"local\", "
                                                          "\"serverURL\": \"" +
                                                              QString::fromStdString(rtmp.at("ONDALINE_RTMP_URL")) +
                                                              "\", \"streamKey\": \"\"}");
        writeToneFLAC((station + "/Music/a.flac").toStdString(), 44100, 2, 440, 30);
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));

        const QString key = QString("typed-%1").arg(QCoreApplication::applicationPid());
        toggleDrawer(desktop);
        desktop.click(onPage(150, 354 + 14));  // STREAM KEY
        desktop.type(key);
        desktop.click(startButton);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: ✓ Publishing live!") ||
                                     desktop.output().contains("Stream key is empty"),
                                 20000);
        QVERIFY2(!desktop.output().contains("Stream key is empty"), qPrintable(desktop.output()));
        QCOMPARE(storedSettings(station)["streamKey"].toString(), key);
        QThread::msleep(3000);
        QCOMPARE(desktop.quit(), 0);  // ends the stream in order
        const std::string file = recordingOf(rtmp.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
        QVERIFY2(!file.empty() && audioSpan(file) > 1, qPrintable(desktop.output()));
    }

    void anIcecastPortOutOfRangeIsStoredAndRefusedAtStart()
    {
        QTemporaryDir home;
        const QString station = writeStation(home.path(), "{\"streamMode\": \"icecast\", \"audioSource\": \"local\", "
                                                          "\"icecastHost\": \"127.0.0.1\", \"icecastPort\": 8000, "
                                                          "\"icecastMount\": \"/drawer.aac\"}");
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        toggleDrawer(desktop);
        desktop.click(onPage(274, 297 + 14));  // the port, right of the host
        desktop.key("ctrl+a");
        desktop.type("70000");
        toggleDrawer(desktop);
        QTRY_COMPARE_WITH_TIMEOUT(storedSettings(station)["icecastPort"].toInteger(), qint64(70000), 5000);
        QCOMPARE(storedSettings(station)["icecastHost"].toString(), QString("127.0.0.1"));

        desktop.click(startButton);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: Invalid Icecast port: 70000"), 5000);
        QThread::msleep(1000);
        QCOMPARE(desktop.quit(), 0);  // still running, and it ends cleanly
    }

    void theWindowWidensAndEachServiceLaysOutItsPage()
    {
        const QMap<QString, QList<int>> dividers{{"youtube", {204, 357, 431, 511, 585}},
                                                 {"kick", {204, 428, 502, 582}},
                                                 {"rtmp", {204, 392, 466, 546}},
                                                 {"icecast", {204, 449, 523, 603}}};
        QList<int> everyDivider;
        for (const QList<int>& ys : dividers) everyDivider += ys;
        const QString shots = qEnvironmentVariable("ONDALINE_DRAWER_SHOTS");  // to look at, when set
        for (auto mode = dividers.begin(); mode != dividers.end(); ++mode) {
            QTemporaryDir home;
            writeStation(home.path(), "{\"streamMode\": \"" + mode.key() +
                                          "\", \"audioSource\": \"local\", "
                                          "\"stationName\": \"Drawer Radio\", \"streamKey\": \"k\"}");
            Desktop desktop(ONDALINE_PROGRAM, home.path());
            QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
            QCOMPARE(desktop.size(), QSize(520, 640));
            const QImage closed = desktop.shot();
            toggleDrawer(desktop);
            QTRY_COMPARE_WITH_TIMEOUT(desktop.size(), QSize(880, 640), 3000);
            const QImage open = desktop.shot(880);
            if (!shots.isEmpty()) open.save(shots + "/" + mode.key() + ".png");
            QCOMPARE(desktop.quit(), 0);

            // The console's top-right corner: round (the black behind it) while
            // closed, square (the bezel's grey) while the drawer is open.
            const QRgb roundCorner = closed.pixel(518, 1), squareCorner = open.pixel(518, 1);
            QVERIFY2(brightness(roundCorner) < 30, qPrintable(QString::number(roundCorner, 16)));
            QVERIFY2(brightness(squareCorner) > 90 && std::abs(qRed(squareCorner) - qBlue(squareCorner)) < 20,
                     qPrintable(QString::number(squareCorner, 16)));
            for (const int y : everyDivider) {
                QVERIFY2(dividerAt(open, y) == mode.value().contains(y),
                         qPrintable(mode.key() + " " + QString::number(y)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(DrawerEndToEnd)
#include "drawer_e2e_test.moc"
