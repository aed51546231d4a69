// The built program started as launchers and terminals start it: with its
// standard streams closed, under nohup, and hung up when its terminal
// closes. The window comes and answers, and every way out ends in order.

#include "support/desktop_session.h"
#include "support/peer_env.h"
#include "support/recording.h"
#include "support/tone_analysis.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

using namespace ondaline::test;

namespace {

// Points of the window (the console face starts at 14, 14).
const QPoint startButton(14 + 89 + 75, 14 + 508 + 18);
const QPoint settingsButton(14 + 89 + 164 + 75, 14 + 508 + 18);
const QPoint stationNameField(538 + 150, 14 + 85);

// A folder for the program's runtime files. Without one Qt's first words
// are a warning on standard error, before the window shows; with one the
// first words there are the decoder's, once the window is up.
QMap<QString, QString> runtimeFolderIn(const QString& home)
{
    QDir().mkpath(home + "/runtime");
    QFile::setPermissions(home + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return {{"XDG_RUNTIME_DIR", home + "/runtime"}};
}

// A FLAC whose frames are damaged all through its middle: the decoder
// complains of each one as the player reaches it.
void writeDamagedFLAC(const QString& path)
{
    writeToneFLAC(path.toStdString(), 44100, 2, 440, 6);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    for (qsizetype i = bytes.size() / 5; i < bytes.size() * 4 / 5; i += 100) bytes[i] = static_cast<char>(~bytes[i]);
    QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
}

// Whether the process has `path` open now.
bool hasOpen(qint64 pid, const QString& path)
{
    const QDir fds(QString("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == path) return true;
    return false;
}

// SIGHUP, as when the terminal the program was started from closes.
void hangUp(Desktop& desktop)
{
    QVERIFY(desktop.pid() > 0);  // 0 would be this test's own process group
    ::kill(static_cast<pid_t>(desktop.pid()), SIGHUP);
}

// SIGTERM ends the program, with status 0, within seconds: a program
// stuck on its display is still running when quit() gives up on it.
void quitsInOrder(Desktop& desktop)
{
    QElapsedTimer quitting;
    quitting.start();
    QCOMPARE(desktop.quit(), 0);
    QVERIFY2(quitting.elapsed() < 10000, qPrintable(QString::number(quitting.elapsed())));
}

}  // namespace

class LauncherEndToEnd : public QObject {
    Q_OBJECT
private slots:
    // All three streams closed, under nohup: nothing else takes their
    // numbers, so the window comes and the drawer opens; the hang-up nohup
    // ignores stays ignored, and SIGTERM still ends the program.
    void startsWithoutStandardStreamsAndUnderNohup()
    {
        QTemporaryDir home;
        writeStation(home.path(), "{\"audioSource\": \"local\"}");
        Desktop desktop(writeLauncher(home.path(), "launch", "nohup " ONDALINE_PROGRAM " <&- >&- 2>&-"), home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(settingsButton);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.size(), QSize(880, 640), 5000);

        hangUp(desktop);
        QCOMPARE(desktop.waitForExit(1000), Desktop::stillRunning);
        desktop.click(settingsButton);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.size(), QSize(520, 640), 5000);
        quitsInOrder(desktop);
    }

    // Output and error closed, and the decoder's complaints on the way:
    // once the player has played the damaged file, the window answers and
    // SIGTERM ends the program.
    void damagedFileWithoutOutputOrError()
    {
        QTemporaryDir home;
        const QString music = writeStation(home.path(), "{\"audioSource\": \"local\"}") + "/Music";
        writeToneFLAC((music + "/a.flac").toStdString(), 44100, 2, 440, 1);
        writeDamagedFLAC(music + "/b.flac");
        Desktop desktop(writeLauncher(home.path(), "launch", ONDALINE_PROGRAM " >&- 2>&-"), home.path(),
                        runtimeFolderIn(home.path()));
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        const qint64 pid = desktop.pid();
        QTRY_VERIFY_WITH_TIMEOUT(hasOpen(pid, music + "/b.flac"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!hasOpen(pid, music + "/b.flac"), 20000);
        QThread::msleep(300);  // for the last complaints to be written
        desktop.click(settingsButton);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.size(), QSize(880, 640), 5000);
        quitsInOrder(desktop);
    }

    // The terminal closes 0.3 s after a station name was typed, while live:
    // the name is saved, the stream ended in order, and the exit status 0.
    void hangUpKeepsWhatWasTypedAndEndsTheStream()
    {
        const auto rtmp = loadPeerEnv("rtmp");
        QVERIFY2(!rtmp.empty(), "the rtmp peer is not running");
        QTemporaryDir home;
        const QString key = QString("hung-up-%1").arg(QCoreApplication::applicationPid());
        const QString station = writeStation(home.path(),
                                             QString("{\"streamMode\": \"rtmp\", \"audioSource\": \"local\", "
                                                     "\"serverURL\": \"%1\", \"streamKey\": \"%2\"}")
                                                 .arg(QString::fromStdString(rtmp.at("ONDALINE_RTMP_URL")), key));
        writeToneFLAC((station + "/Music/a.flac").toStdString(), 44100, 2, 440, 30);
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(startButton);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: ✓ Publishing live!"), 20000);
        desktop.click(settingsButton);
        QThread::msleep(700);  // the drawer's slide
        desktop.click(stationNameField);
        desktop.key("ctrl+a");
        desktop.type("Onda Hang-up");
        QThread::msleep(300);
        hangUp(desktop);
        QCOMPARE(desktop.waitForExit(10000), 0);

        QFile saved(station + "/Misc/System/Streamer/ondaline_schedule.json");
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(saved.readAll()).object()["stationName"].toString(), "Onda Hang-up");
        QVERIFY2(desktop.output().contains("Ondaline: Disconnecting…"), qPrintable(desktop.output()));
        const std::string file = recordingOf(rtmp.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
        QVERIFY2(!file.empty(), qPrintable(desktop.output()));
        QCOMPARE(decodeErrors(file), std::string());
        QVERIFY(audioSpan(file) > 1);
    }
};

QTEST_GUILESS_MAIN(LauncherEndToEnd)
#include "launcher_e2e_test.moc"
