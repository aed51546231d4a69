// The real program and the files a station names: a FIFO where a settings,
// pointer or key file should be never stalls the start or the quit, an edit
// made behind the program's back is kept, what the drawer holds unsaved is
// kept at any quit, and a user who cannot write the station folder is told
// that nothing was saved.

#include "support/desktop_session.h"
#include "support/needs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

using namespace ondaline::test;

namespace {

const QPoint settingsButton(14 + 89 + 164 + 75, 14 + 508 + 18);
QPoint onPage(int x, int y) { return {538 + x, 14 + y}; }

void makeFIFO(const QString& path)
{
    QFile::remove(path);
    QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
}

}  // namespace

class StoredFilesEndToEnd : public QObject {
    Q_OBJECT
private slots:
    // The program's settings file holds the key only where no one else
    // reads it: files are made so here.
    void initTestCase() { ::umask(077); }

    void fifoInPlaceOfAStoredFileIsPassedOver()
    {
        const QStringList names = {"settings", "pointer", "key"};
        for (const QString& name : names) {
            QTemporaryDir home;
            const QString station = writeStation(home.path(),
                                                 "{\"stationName\": \"Radio Test\", \"audioSource\": \"tcp\"}");
            // Where the pointer file is a FIFO, the shared preferences name the station.
            QDir().mkpath(home.path() + "/.config");
            QFile prefs(home.path() + "/.config/com.quillmere.shared.json");
            QVERIFY(prefs.open(QIODevice::WriteOnly) &&
                    prefs.write("{\"StationFolderPath\": \"" + station.toUtf8() + "\"}") > 0);
            prefs.close();
            const QString fifo = name == "settings"  ? station + "/Misc/System/Streamer/ondaline_schedule.json"
                                 : name == "pointer" ? home.path() + "/.ondaline_station"
                                                     : station + "/Misc/System/Streamer/ondaline_key";
            makeFIFO(fifo);

            Desktop desktop(ONDALINE_PROGRAM, home.path(), {{"QTWEBENGINE_DISABLE_SANDBOX", "1"}});
            QVERIFY(desktop.started());
            QVERIFY2(desktop.waitForWindow(), qPrintable(name + ": " + desktop.describe()));
            QElapsedTimer quitting;
            quitting.start();
            QCOMPARE(desktop.quit(), 0);
            QVERIFY2(quitting.elapsed() < 5000, qPrintable(QString::number(quitting.elapsed())));
            const QString output = desktop.output();
            const QString said = name == "settings" ? "Ondaline: ⚠ Settings file " + fifo + " not a regular file"
                                 : name == "pointer"
                                     ? "Ondaline: ⚠ Station folder setting not used — " + fifo + ": not a regular file"
                                     : "Ondaline: ⚠ Stream key file not used — " + fifo + ": not a regular file";
            QVERIFY2(output.contains(said), qPrintable(name + ": " + output));
        }
    }

    // The settings file edited by hand while the program runs: the next save
    // keeps that edit aside, and says so, before it writes. A save with no
    // such edit keeps nothing aside. A file made private, as it holds the
    // stream key, stays private, and so does its kept copy.
    void editMadeWhileRunningIsKeptAside()
    {
        QTemporaryDir home;
        const QString folder =
            writeStation(home.path(),
                         "{\"stationName\": \"Radio Test\", \"audioSource\": \"tcp\", \"streamKey\": \"live-key\"}") +
            "/Misc/System/Streamer";
        const QString file = folder + "/ondaline_schedule.json";
        const auto privateMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QVERIFY(QFile::setPermissions(file, privateMode));
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(settingsButton);
        QThread::msleep(700);
        auto renameStation = [&](const QString& name) {
            desktop.click(onPage(150, 85));  // STATION NAME
            desktop.key("ctrl+a");
            desktop.type(name);
            desktop.key("Return");
        };
        renameStation("Onda FM");
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: Settings auto-saved"), 10000);
        const QStringList copies = {"ondaline_schedule.json.*-*"};
        QCOMPARE(QDir(folder).entryList(copies, QDir::Files), QStringList{});

        QFile edit(file);
        const QByteArray byHand = "{\"stationName\": \"Edited by hand\", \"streamKey\": \"hand-key\"}";
        QVERIFY(edit.open(QIODevice::WriteOnly | QIODevice::Truncate) && edit.write(byHand) == byHand.size());
        edit.close();
        QThread::msleep(1100);  // past the autosave's second
        renameStation("Onda FM 2");
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: ⚠ Settings file " + file +
                                                           " was changed by someone else"),
                                 10000);
        QCOMPARE(desktop.quit(), 0);
        const QStringList kept = QDir(folder).entryList({"ondaline_schedule.json.edited-*"}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QVERIFY2(desktop.output().contains("that version is kept as " + folder + "/" + kept[0]),
                 qPrintable(desktop.output()));
        QFile copy(folder + "/" + kept[0]);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), byHand);
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().contains("\"stationName\":\"Onda FM 2\""));
        // Qt's owner bits repeat as "user" bits for the process's own files.
        const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                               QFileDevice::WriteUser;
        QCOMPARE(QFileInfo(file).permissions() & ~ownerOnly, QFileDevice::Permissions());
        QCOMPARE(QFileInfo(copy).permissions() & ~ownerOnly, QFileDevice::Permissions());
    }

    // Quitting half a second after typing a key and choosing a bitrate in
    // the drawer, by a signal or by the menu's key: both reach the file.
    void quitRightAfterTypingKeepsIt()
    {
        for (const QString way : {"SIGTERM", "ctrl+q"}) {
            QTemporaryDir home;
            const QString file = writeStation(home.path(), "{\"audioSource\": \"tcp\", \"streamKey\": \"\"}") +
                                 "/Misc/System/Streamer/ondaline_schedule.json";
            Desktop desktop(ONDALINE_PROGRAM, home.path());
            QVERIFY(desktop.started());
            QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
            desktop.click(settingsButton);
            QThread::msleep(700);
            desktop.click(onPage(150, 354 + 14));  // STREAM KEY
            desktop.type("typed-key");
            desktop.click(onPage(150, 426 + 13));  // BITRATE: its list opens
            QThread::msleep(300);
            desktop.key("Home Return");  // "96 kbps", the first item
            QThread::msleep(500);
            if (way == "SIGTERM") {
                QCOMPARE(desktop.quit(), 0);
            } else {
                desktop.key(way);
                QCOMPARE(desktop.waitForExit(10000), 0);
            }
            QFile saved(file);
            QVERIFY(saved.open(QIODevice::ReadOnly));
            const QByteArray stored = saved.readAll();
            QVERIFY2(stored.contains("\"streamKey\":\"typed-key\"") && stored.contains("\"audioBitrate\":96000"),
                     qPrintable(way + ": " + stored));
        }
    }

    // As a person's own account with no station folder chosen: the default
    // "/Station" is not theirs to write. This machine's own, if it has one,
    // is covered by an empty one of root's, in a mount namespace of the
    // program's own: the program never reads it.
    void userWhoCannotWriteTheStationFolderIsTold()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "changing to the user nobody needs root");
        QTemporaryDir home;
        QVERIFY(QFile::setPermissions(home.path(), QFileDevice::Permissions(0x7777)));
        const QString asNobody = writeLauncher(
            home.path(), "as-nobody",
            "unshare --mount --propagation private sh -c '[ ! -d /Station ] || mount -t tmpfs -o mode=0755 "
            "ondaline-station /Station || exit 1; exec \"$@\"' cover "
            "setpriv --reuid=nobody --regid=nogroup --clear-groups --pdeathsig keep " ONDALINE_PROGRAM);

        Desktop desktop(asNobody, home.path(), sanitizerOptionsReadableIn(home.path()));
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(settingsButton);
        QThread::msleep(700);
        desktop.click(onPage(150, 85));  // STATION NAME
        desktop.key("ctrl+a");
        desktop.type("Onda FM");
        desktop.key("Return");
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: ⚠ Settings not saved to /Station/"), 10000);
        desktop.click(settingsButton);  // closing autosaves once more
        QThread::msleep(1500);
        QCOMPARE(desktop.quit(), 0);
        const QString output = desktop.output();
        QVERIFY2(!output.contains("Settings auto-saved"), qPrintable(output));
        QVERIFY2(output.count(
                     "Ondaline: ⚠ Settings not saved to /Station/Misc/System/Streamer/ondaline_schedule.json: ") >= 2,
                 qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(StoredFilesEndToEnd)
#include "stored_files_e2e_test.moc"
