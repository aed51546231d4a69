// The built program's schedulers end to end: the weekly image schedule
// switches the recorded background at its time, and song-file titles reach
// the picture and the Icecast server, the current one right after Start.

#include "support/desktop_session.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"
#include "support/tone_analysis.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace ondaline::test;

namespace {

const QPoint startButton(14 + 89 + 75, 14 + 508 + 18);

void writeText(const QString& path, const QString& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text.toUtf8());
}

// A frame of the recording `seconds` into it, or before its end where
// negative.
QImage frameAt(const std::string& file, double seconds, const QString& out)
{
    runCommand("ffmpeg -v error -y " + std::string(seconds < 0 ? "-sseof " : "-ss ") + std::to_string(seconds) +
               " -i " + shellQuote(file) + " -frames:v 1 " + shellQuote(out.toStdString()));
    return QImage(out).convertToFormat(QImage::Format_RGB32);
}

QString quoted(const std::string& text) { return "\"" + QString::fromStdString(text) + "\""; }

// A station streaming to the icecast peer from `source`, on a mount of
// this test run's own.
QString writeIcecastStation(const QString& home, const std::map<std::string, std::string>& icecast,
                            const QString& source, const QString& mountName)
{
    const QString mount = QString("/%1-%2.aac").arg(mountName).arg(QCoreApplication::applicationPid());
    return writeStation(home, "{\"streamMode\": \"icecast\", \"audioSource\": \"" + source +
                                  "\", \"icecastHost\": \"127.0.0.1\", \"icecastPort\": " +
                                  QString::fromStdString(icecast.at("ONDALINE_ICECAST_PORT")) +
                                  ", \"icecastMount\": \"" + mount + "\", \"icecastPassword\": " +
                                  quoted(icecast.at("ONDALINE_ICECAST_SOURCE_PASSWORD")) + "}");
}

}  // namespace

class SchedulesEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void imageScheduleAndSongFileReachTheRecordedPicture()
    {
        const auto rtmp = loadPeerEnv("rtmp");
        QVERIFY2(!rtmp.empty(), "the rtmp peer is not running");
        QTemporaryDir home;
        QImage blue(1280, 720, QImage::Format_RGB32), red(1280, 720, QImage::Format_RGB32);
        blue.fill(QColor(0, 0, 200));
        red.fill(QColor(200, 0, 0));
        QVERIFY(blue.save(home.filePath("blue.png")) && red.save(home.filePath("red.png")));

        // An entry from the first whole minute at least 30 s after now: the
        // stream is live well before, and its first 15 s are blue.
        const QDateTime begins = QDateTime::currentDateTime().addSecs(30 + 59);
        const QTime at(begins.time().hour(), begins.time().minute());
        const QTime ends = at.addSecs(600);
        const int dayOfWeek = begins.date().dayOfWeek() % 7 + 1;  // 1 = Sunday
        const QString key = QString("app-schedule-%1").arg(QCoreApplication::applicationPid());
        const QString settings =
            "{\"streamMode\": \"rtmp\", \"serverURL\": " + quoted(rtmp.at("ONDALINE_RTMP_URL")) +
            ", \"streamKey\": \"" + key + "\", \"audioSource\": \"appcapture\", \"defaultImagePath\": \"" +
            home.filePath("blue.png") + "\", \"entries\": [{\"dayOfWeek\": " + QString::number(dayOfWeek) +
            ", \"startHour\": " + QString::number(at.hour()) + ", \"startMinute\": " + QString::number(at.minute()) +
            ", \"endHour\": " + QString::number(ends.hour()) + ", \"endMinute\": " + QString::number(ends.minute()) +
            ", \"imagePath\": \"" + home.filePath("red.png") + "\"}]}";
        const QString station = writeStation(home.path(), settings);
        const QString songFile = station + "/Misc/System/current_song.txt";
        writeText(songFile, "First Title\n");

        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(startButton);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: ✓ Publishing live!"), 20000);
        QThread::msleep(8000);
        writeText(songFile, "Second Title\n");
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: Now Playing updated — Second Title"), 10000);
        // The image timer ticks every 30 s: within 35 s of the entry's start.
        const qint64 wait = QDateTime::currentDateTime().msecsTo(QDateTime(begins.date(), at)) + 35000;
        QTRY_VERIFY2_WITH_TIMEOUT(desktop.output().contains("Ondaline: Scheduler switching image to: red.png"),
                                  qPrintable(desktop.output()), static_cast<int>(std::max<qint64>(wait, 0)));
        QVERIFY(QDateTime::currentDateTime() >= QDateTime(begins.date(), at));
        QThread::msleep(6000);  // the red picture is in the recording for a while
        desktop.click(startButton);
        QThread::msleep(500);
        QCOMPARE(desktop.quit(), 0);

        const std::string file = recordingOf(rtmp.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
        QVERIFY(!file.empty());
        const QImage first = frameAt(file, 4, home.filePath("first.png"));
        const QImage second = frameAt(file, 14, home.filePath("second.png"));
        // What a busy machine recorded may fall short of the wall clock.
        const QImage last = frameAt(file, -3, home.filePath("last.png"));
        QVERIFY(!first.isNull() && !second.isNull() && !last.isNull());
        // The background: blue at first, red once the entry has begun.
        QVERIFY(qBlue(first.pixel(40, 40)) > 150 && qRed(first.pixel(40, 40)) < 60);
        QVERIFY(qRed(last.pixel(40, 40)) > 150 && qBlue(last.pixel(40, 40)) < 60);
        // The song text is part of the picture: the two titles differ in it.
        int changed = 0;
        for (int y = 0; y < 720; y += 2) {
            for (int x = 0; x < 1280; x += 2)
                changed += std::abs(qGreen(first.pixel(x, y)) - qGreen(second.pixel(x, y))) > 60;
        }
        QVERIFY2(changed > 50, qPrintable(QString::number(changed)));
    }

    void songFileTitlesReachIcecastTheCurrentOneRightAfterStart()
    {
        const auto icecast = loadPeerEnv("icecast");
        QVERIFY2(!icecast.empty(), "the icecast peer is not running");
        QTemporaryDir home;
        const QString station = writeIcecastStation(home.path(), icecast, "appcapture", "app-title");
        const QString songFile = station + "/Misc/System/current_song.txt";
        writeText(songFile, "On Air Now\n");
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        QThread::msleep(3000);  // the title is read while idle
        desktop.click(startButton);
        const std::string stats = "curl -s -u admin:" + shellQuote(icecast.at("ONDALINE_ICECAST_ADMIN_PASSWORD")) +
                                  " http://127.0.0.1:" + icecast.at("ONDALINE_ICECAST_PORT") + "/admin/stats";
        QTRY_VERIFY_WITH_TIMEOUT(QString::fromStdString(runCommand(stats).output).contains("<title>On Air Now</title>"),
                                 15000);
        writeText(songFile, "Next Up\n");
        QTRY_VERIFY_WITH_TIMEOUT(QString::fromStdString(runCommand(stats).output).contains("<title>Next Up</title>"),
                                 15000);
        QCOMPARE(desktop.quit(), 0);
    }

    // With the playlist as the source, each track's name reaches the
    // server, not only the one playing at Start.
    void playlistTitlesReachIcecastTrackByTrack()
    {
        const auto icecast = loadPeerEnv("icecast");
        QVERIFY2(!icecast.empty(), "the icecast peer is not running");
        QTemporaryDir home;
        const QString station = writeIcecastStation(home.path(), icecast, "local", "app-playlist");
        for (const char* name : {"First Song", "Second Song"})
            writeToneFLAC((station + "/Music/" + name + ".flac").toStdString(), 44100, 2, 440, 4);
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(startButton);
        const std::string stats = "curl -s -u admin:" + shellQuote(icecast.at("ONDALINE_ICECAST_ADMIN_PASSWORD")) +
                                  " http://127.0.0.1:" + icecast.at("ONDALINE_ICECAST_PORT") + "/admin/stats";
        // The shuffled list plays each song within two tracks.
        QTRY_VERIFY_WITH_TIMEOUT(QString::fromStdString(runCommand(stats).output).contains("<title>First Song</title>"),
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(
            QString::fromStdString(runCommand(stats).output).contains("<title>Second Song</title>"), 20000);
        QCOMPARE(desktop.quit(), 0);
    }
};

QTEST_GUILESS_MAIN(SchedulesEndToEnd)
#include "schedule_e2e_test.moc"
