// The image and song schedulers: titles from the now-playing file, files
// that must not stall the dashboard, the schedule's image while live on a
// set clock, and the title a stream gets when it goes live.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "app/settings_page.h"
#include "app/song_file.h"
#include "engine/ondaline.h"
#include "launched_controller.h"
#include "member.h"
#include "models/station_path.h"
#include "sources/test_player.h"
#include "support/log_capture.h"
#include "support/needs.h"
#include "support/private_home.h"
#include "support/tcp_peer.h"
#include "support/tone_analysis.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ondaline;
using namespace ondaline::app;
using namespace std::chrono;

namespace {

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

int count(const test::LogCapture& log, const std::string& line)
{
    const auto messages = log.messages();
    return static_cast<int>(std::count(messages.begin(), messages.end(), line));
}

// A controller reading the station's default title file, with a song-file
// source. Launched, it has its dashboard and the engine's reports;
// otherwise only the dashboard's views.
struct Rig {
    std::shared_ptr<QtMainExecutor> main = std::make_shared<QtMainExecutor>();
    QWidget spare;
    std::unique_ptr<TestAppDelegate> app = std::make_unique<TestAppDelegate>(main);
    const std::string songFile = StationPath::load() + "/Misc/System/current_song.txt";

    explicit Rig(bool launched = false)
    {
        std::remove(songFile.c_str());
        if (launched) app->applicationDidFinishLaunching();
        else app->dashboard().build(spare, {}, {});
        app->activateTCPInputMode();
    }
    ~Rig() { app.reset(); }  // before the spare views and the server
    QString shown() const { return app->dashboard().nowPlayingLabel()->text(); }
    // Live on a scripted RTMP server, with both of the engine's reports of
    // it handled. (Titles reaching icecast2 are checked end to end.)
    bool goLive() { return test::goLive(*app, rtmp); }
    std::unique_ptr<test::TCPPeer> rtmp;  // outlives the engine's connection
};

}  // namespace

class SchedulersTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::string dir_;

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home_.path());
        qputenv("TZ", "UTC");
        tzset();
        dir_ = home_.path().toStdString();
        StationPath::save(dir_ + "/station");
        QVERIFY(QDir().mkpath(QString::fromStdString(dir_ + "/station/Misc/System")));
    }

    void pollShowsEachChangeOnce()
    {
        Rig rig;
        test::LogCapture log;
        writeFile(rig.songFile, "A\tB\n");
        rig.app->pollSongFile();
        writeFile(rig.songFile, "\n  A\tB  \n");  // the same title
        rig.app->pollSongFile();
        QCOMPARE(rig.shown(), "A - B");
        QCOMPARE(count(log, "Ondaline: Now Playing updated — A - B"), 1);
        QVERIFY(rig.app->streamer->currentSongText().empty());  // not live

        rig.app->scheduleConfig.nowPlaying.multiRow = true;
        rig.app->pollSongFile();
        QCOMPARE(rig.shown(), "A - B");
        QVERIFY(log.contains("Ondaline: Now Playing updated — A / B"));

        // An unusable file clears the title once; a title from elsewhere stays.
        rig.app->scheduleConfig.nowPlaying.filePath = dir_ + "/fifo";
        rig.app->pollSongFile();
        QCOMPARE(rig.shown(), "");
        rig.app->dashboard().setNowPlaying("Song.Name");
        rig.app->pollSongFile();
        rig.app->activateLocalPlayerMode();  // the player reports its own titles
        rig.app->scheduleConfig.nowPlaying.filePath.clear();
        rig.app->pollSongFile();
        QCOMPARE(rig.shown(), "Song.Name");
    }

    // Another user's link as the title file, or a title file that settings
    // another user may change name and only we may read: nothing of it is
    // shown, logged or drawn, and each refusal is told once.
    void filesOnlyWeMayReadNeverReachTheTitle()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "giving files to the user nobody needs root");
        const std::string secret = dir_ + "/secret.txt";
        writeFile(secret, "Root only\tSecret");
        QCOMPARE(::chmod(secret.c_str(), 0600), 0);
        Rig rig(true);
        QVERIFY(rig.goLive());
        test::LogCapture log;
        std::filesystem::create_symlink(secret, rig.songFile);
        QCOMPARE(::lchown(rig.songFile.c_str(), 65534, 65534), 0);
        rig.app->pollSongFile();
        rig.app->pollSongFile();
        std::remove(rig.songFile.c_str());

        const std::string settings = ImageScheduleConfig::configFile();
        QVERIFY(!ImageScheduleConfig::ensureDirectory());
        writeFile(settings, R"({"nowPlaying": {"filePath": ")" + secret + R"("}})");
        QCOMPARE(::chown(settings.c_str(), 65534, 65534), 0);
        rig.app->scheduleConfig = ImageScheduleConfig::load();  // as at the next start
        rig.app->pollSongFile();
        std::remove(settings.c_str());

        QCOMPARE(rig.shown(), "");
        QCOMPARE(rig.app->streamer->currentSongText(), "");
        for (const std::string& line : log.messages())
            QVERIFY2(line.find("Root only") == std::string::npos, line.data());
        QCOMPARE(count(log,
                       "Ondaline: ⚠ Song file not used — " + rig.songFile + ": a link owned by nobody, not followed"),
                 1);
        QCOMPARE(count(log, "Ondaline: ⚠ Song file not used — " + secret +
                                ": nobody may change the station's settings and could not read it"),
                 1);
    }

    // Started at a station of root's own, Browse leads to one whose group may
    // change its folders: the song file is judged by that station's rules
    // from then on. Root's private file moved there by a member is not read,
    // and that is told; a file the group may read is.
    void afterBrowseTheStationInUseJudgesTheSongFile()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "reading with the group's rights needs root");
        QCOMPARE(::chmod(dir_.c_str(), 0711), 0);
        const std::string group = dir_ + "/group";
        for (const std::string& folder : {group, group + "/Misc", group + "/Misc/System"}) {
            QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
            QCOMPARE(::chown(folder.c_str(), 0, 65534), 0);
            QCOMPARE(::chmod(folder.c_str(), 02775), 0);
        }
        Rig rig(true);
        rig.app->scheduleConfig.audioSource = "tcp";
        rig.app->openDrawer(DrawerPage::settings);
        rig.app->pickFolder = [&](QWidget*, const QString&) { return std::optional(QString::fromStdString(group)); };
        QTest::mouseClick(rig.app->settingsPage().drStationPathField()->parentWidget()->findChild<QPushButton*>(),
                          Qt::LeftButton);
        rig.app->closeDrawer();
        QTRY_VERIFY(!rig.app->isDrawerOpen());

        test::LogCapture log;
        const std::string songFile = group + "/Misc/System/current_song.txt";
        writeFile(group + "/Misc/private.txt", "Root only\tSecret");
        QCOMPARE(::chmod((group + "/Misc/private.txt").c_str(), 0600), 0);
        QCOMPARE(::rename((group + "/Misc/private.txt").c_str(), songFile.c_str()), 0);
        rig.app->pollSongFile();
        rig.app->pollSongFile();
        QCOMPARE(rig.shown(), "");
        for (const std::string& line : log.messages())
            QVERIFY2(line.find("Root only") == std::string::npos, line.data());
        QCOMPARE(count(log, "Ondaline: ⚠ Song file not used — " + songFile +
                                ": the group nogroup may change the station's settings and could not read it"),
                 1);
        QCOMPARE(::chmod(songFile.c_str(), 0644), 0);
        rig.app->pollSongFile();
        QCOMPARE(rig.shown(), "Root only - Secret");
        StationPath::save(dir_ + "/station");
        QCOMPARE(::chmod(dir_.c_str(), 0700), 0);
    }

    // A member's settings name files of hers that the group may read: the
    // song file, the default image and a scheduled image. They stay hers
    // wherever the record goes. With the station pointer moved to root's
    // own station (as another program would), a file of root's that she
    // then moves onto the song file's path is read by her rights, so not
    // at all; Browse there leaves all three paths behind, and says so;
    // nothing of root's file is read then or after a restart.
    void pathsOthersNamedStayTheirsWhereverTheRecordGoes()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "reading with the group's rights needs root");
        QCOMPARE(::chmod(dir_.c_str(), 0711), 0);
        const auto restore = qScopeGuard([this] {
            StationPath::save(dir_ + "/station");
            ::chmod(dir_.c_str(), 0700);
        });
        const std::string group = dir_ + "/named-group", own = dir_ + "/named-own";
        const std::string misc = group + "/Misc", song = misc + "/song.txt", rootsFile = misc + "/root.txt";
        for (const std::string& folder : {misc, misc + "/System", misc + "/System/Streamer"}) {
            QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
            QCOMPARE(::chown(folder.c_str(), 0, 65534), 0);
            QCOMPARE(::chmod(folder.c_str(), 02775), 0);
        }
        QVERIFY(QDir().mkpath(QString::fromStdString(own + "/Misc/System/Streamer")));
        writeFile(song, "Hers\tSong");
        QCOMPARE(::chown(song.c_str(), 65534, 65534), 0);
        QCOMPARE(::chmod(song.c_str(), 0640), 0);
        writeFile(rootsFile, "Root only\tSecret");
        QCOMPARE(::chmod(rootsFile.c_str(), 0600), 0);
        StationPath::save(group);
        const std::string theirs = misc + "/System/Streamer/ondaline_schedule.json";
        writeFile(theirs, R"({"nowPlaying": {"filePath": ")" + song + R"("}, "defaultImagePath": ")" + misc +
                              R"(/default.png", "entries": [{"dayOfWeek": 1, "startHour": 0, "startMinute": 0, )"
                              R"("endHour": 0, "endMinute": 0, "imagePath": ")" +
                              misc + R"(/slot.png"}]})");
        QCOMPARE(::chown(theirs.c_str(), 65534, 65534), 0);

        test::LogCapture log;
        auto rig = std::make_unique<Rig>(true);
        rig->app->pollSongFile();
        QCOMPARE(rig->shown(), "Hers - Song");
        StationPath::save(own);
        QVERIFY(test::asMember([&] { return ::rename(rootsFile.c_str(), song.c_str()) == 0; }));
        rig->app->pollSongFile();
        QCOMPARE(rig->shown(), "");

        rig->app->openDrawer(DrawerPage::settings);
        rig->app->pickFolder = [&](QWidget*, const QString&) { return std::optional(QString::fromStdString(own)); };
        QTest::mouseClick(rig->app->settingsPage().drStationPathField()->parentWidget()->findChild<QPushButton*>(),
                          Qt::LeftButton);
        rig->app->closeDrawer();
        QTRY_VERIFY(!rig->app->isDrawerOpen());
        rig->app->pollSongFile();
        const std::string into = " not carried into " + own +
                                 "/Misc/System/Streamer/ondaline_schedule.json: the "
                                 "group nogroup may change the settings it came from";
        QCOMPARE(count(log, "Ondaline: ⚠ Song file " + song + into), 1);
        QCOMPARE(count(log, "Ondaline: ⚠ Default image " + misc + "/default.png" + into), 1);
        QCOMPARE(count(log, "Ondaline: ⚠ Scheduled image " + misc + "/slot.png" + into), 1);
        rig = std::make_unique<Rig>(true);
        rig->app->pollSongFile();
        const ImageScheduleConfig& restarted = rig->app->scheduleConfig;
        QCOMPARE(restarted.nowPlaying.filePath + restarted.defaultImagePath + restarted.entries.at(0).imagePath, "");
        QCOMPARE(rig->shown(), "");
        for (const std::string& line : log.messages())
            QVERIFY2(line.find("Root only") == std::string::npos, line.data());
    }

    void imageFollowsTheScheduleWhileLive()
    {
        const std::string one = dir_ + "/one.png", broken = dir_ + "/broken.png";
        QImage image(64, 36, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(QString::fromStdString(one)));
        writeFile(broken, "not an image");
        Rig rig;
        auto& engine = *rig.app->streamer;
        const auto monday = sys_days(year(2024) / January / 1);  // UTC
        auto now = monday + 9h;
        rig.app->schedulers().setWallClock([&now] { return now; });
        const std::vector<ImageScheduleEntry> entries{
            {2, 9, 0, 10, 0, one}, {2, 10, 0, 11, 0, broken}, {2, 11, 0, 12, 0, ""}};  // Mondays
        rig.app->scheduleConfig.entries = entries;
        rig.app->applyScheduledImage();
        QVERIFY(!engine.videoImagePath());  // idle: nothing

        rig.app->scheduleConfig.entries.clear();  // Start reads the schedule at the real time
        QVERIFY(rig.goLive());
        rig.app->scheduleConfig.entries = entries;
        rig.app->scheduleConfig.defaultImagePath = one;
        test::LogCapture log;
        auto tickTwiceAt = [&](hours hour) {
            now = monday + hour;
            rig.app->applyScheduledImage();
            rig.app->applyScheduledImage();
        };
        tickTwiceAt(9h);
        QCOMPARE(engine.videoImagePath(), one);
        tickTwiceAt(10h);  // does not load: tried once
        QCOMPARE(engine.videoImagePath(), broken);
        tickTwiceAt(11h);  // an entry without an image is black, whatever the default
        QVERIFY(!engine.videoImagePath());
        QCOMPARE(count(log, "Ondaline: Loaded video image — one.png"), 1);
        QCOMPARE(count(log, "Ondaline: Failed to load image: " + broken), 1);
        QCOMPARE(count(log, "Ondaline: Scheduler reverting to default (black)"), 1);
        tickTwiceAt(12h);
        QCOMPARE(engine.videoImagePath(), one);
    }

    void goingLiveSendsTheCurrentTitleOnce()
    {
        {
            Rig rig(true);
            test::LogCapture log;
            writeFile(rig.songFile, "A\tB");
            rig.app->pollSongFile();  // shown while idle: no change to come
            rig.app->streamer->setCurrentSongText("Old");
            QVERIFY(rig.goLive());
            QCOMPARE(rig.app->streamer->currentSongText(), "A - B");
            QCOMPARE(count(log, "Ondaline: Now Playing updated — A - B"), 1);  // sent, not changed

            // New settings send it again too, still without a line.
            rig.app->streamer->setCurrentSongText("Old");
            rig.app->overlayEditorDidSave(rig.app->scheduleConfig);
            QCOMPARE(rig.app->streamer->currentSongText(), "A - B");
            QCOMPARE(count(log, "Ondaline: Now Playing updated — A - B"), 1);
        }
        {
            Rig rig(true);  // no title file: the last stream's title goes
            rig.app->streamer->setCurrentSongText("Old");
            QVERIFY(rig.goLive());
            QCOMPARE(rig.app->streamer->currentSongText(), "");
        }
        const std::string music = dir_ + "/music";
        QVERIFY(QDir().mkpath(QString::fromStdString(music)));
        test::writeToneFLAC(music + "/Song.Name.flac", 44100, 2, 440, 30);
        Rig rig(true);
        rig.app->player = sources::TestPlayer::create(rig.main, {.useSoundServer = false});
        rig.app->player->loadPlaylist(music);
        rig.app->player->setup();
        rig.app->activateLocalPlayerMode();
        QVERIFY(rig.goLive());
        QCOMPARE(rig.app->streamer->currentSongText(), "Song.Name");
    }

    void timersRunOnTheirOwn()
    {
        Rig rig;
        writeFile(rig.songFile, "A\tB");
        rig.app->startScheduler();
        QTest::qWait(1000);
        QCOMPARE(rig.shown(), "");  // the first poll comes after 2 s
        QTRY_COMPARE_WITH_TIMEOUT(rig.shown(), "A - B", 5000);
        QCOMPARE(rig.app->schedulers().songPollTimer()->intervalAsDuration(), milliseconds(3000));
    }
};

QTEST_MAIN(SchedulersTest)
#include "schedulers_test.moc"
