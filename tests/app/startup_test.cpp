// Start-up with each stored source and the stream-key file, and what the
// sources' reports do to the dashboard.

#include "app/activity_page.h"
#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "app/source_callbacks.h"
#include "engine/ondaline.h"
#include "models/station_path.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "support/log_capture.h"
#include "support/needs.h"
#include "support/pcm_sender.h"
#include "support/private_home.h"
#include "support/scripted_rtmp_server.h"
#include "support/tcp_peer.h"
#include "support/tone_analysis.h"
#include "ui/console/console_paint.h"
#include "ui/console/keyable_borderless_window.h"
#include "ui/console/led_indicator_view.h"
#include "ui/console/vu_meter_view.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

using namespace ondaline;
using namespace ondaline::app;

namespace {

const QString dim = ui::white(1.0, 0.4).name(QColor::HexArgb);
const QString waiting = ui::white(1.0, 0.25).name(QColor::HexArgb);

// A controller launched with `source` in a station folder of its own; its
// TCP input on a free port, the engine on a format no source delivers.
struct Rig {
    std::shared_ptr<QtMainExecutor> main = std::make_shared<QtMainExecutor>();
    std::unique_ptr<TestAppDelegate> app = std::make_unique<TestAppDelegate>(main);

    explicit Rig(const std::string& source, const std::string& key = "")
    {
        app->scheduleConfig.audioSource = source;
        app->scheduleConfig.streamKey = key;
        app->tcpServer = sources::TCPAudioServer::create(main, test::closedPort());
        app->streamer->updateConfig([](Configuration& config) { config = {"", "", 320000, 22050, 1}; });
        app->applicationDidFinishLaunching();
    }
    QString look() const  // "[lit] | status colour"
    {
        return QString(app->dashboard().ledView()->isLit() ? "lit" : "") + " | " +
               app->dashboard().statusLabel()->text() + " " +
               app->dashboard().statusLabel()->palette().color(QPalette::WindowText).name(QColor::HexArgb);
    }
    float needle() const { return app->dashboard().vuMeterView()->targetLevelL(); }
};

void useStation(const QString& path)
{
    StationPath::save(path.toStdString());
    QDir().mkpath(QString::fromStdString(TestAppDelegate::musicPath()));
    ImageScheduleConfig::ensureDirectory();
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;

private slots:
    void initTestCase() { test::usePrivateHome(home_.path()); }

    void tcpSourceStartsOnlyTheInputAndFillsTheKey()
    {
        useStation(home_.path() + "/tcp");
        std::ofstream(ImageScheduleConfig::streamKeyFile()) << "  live-key\n";
        const auto privateMode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
        std::filesystem::permissions(ImageScheduleConfig::streamKeyFile(), privateMode);
        Rig rig("tcp");
        QCOMPARE(ImageScheduleConfig::load().streamKey, "live-key");
        // Made from a key only its owner may read, the settings file is as private.
        QCOMPARE(std::filesystem::status(ImageScheduleConfig::configFile()).permissions(), privateMode);
        QVERIFY(!rig.app->player->tapFormat() && rig.app->player->playlist().empty());
        QCOMPARE(rig.app->streamer->config().sampleRate, 22050.0);

        const QString idle = " | TCP: Waiting for connection on port " + QString::number(rig.app->tcpServer->port());
        QTRY_COMPARE(rig.look(), idle + " " + waiting);
        test::PCMSender sender;
        QVERIFY(sender.connect(rig.app->tcpServer->port()));
        sender.startTone({.dbfs = -12});  // RMS 3 dB below the peak: 18 - 15 on the meter
        QTRY_COMPARE(rig.look(), "lit | Connected to TCP Input " + dim);
        QTRY_VERIFY(std::abs(rig.needle() - 3.0f) < 0.5f);
        sender.stop();  // its sender gone, the input waits again, the lamp goes out and the needles fall
        QTRY_COMPARE(rig.look(), idle + " " + waiting);
        QTRY_VERIFY(rig.needle() < -100);

        std::ofstream(ImageScheduleConfig::streamKeyFile()) << "other-key";
        QCOMPARE(Rig("tcp", "mine").app->scheduleConfig.streamKey, "mine");
        QCOMPARE(ImageScheduleConfig::load().streamKey, "live-key");  // not written again
    }

    // A settings file that could not be used in full is said once at start,
    // and again when the first save keeps it aside; the source's first
    // status does not write over it. An interrupted save's leftover, removed,
    // is named once.
    void settingsFileNotUsedInFullIsSaid()
    {
        useStation(home_.path() + "/unread");
        std::ofstream(ImageScheduleConfig::configFile())
            << R"({"stationName":"Kept","entries":[{"dayOfWeek":2,"startHour":"6","startMinute":0,"endHour":9,)"
               R"("endMinute":0,"imagePath":"/a.png"}]})";
        const std::string leftover = ImageScheduleConfig::configFile() + ".tmp-x1Y2z3";
        std::ofstream(leftover) << "{}";
        std::filesystem::last_write_time(leftover,
                                         std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
        test::LogCapture log;
        Rig rig("tcp");
        const std::string file = ImageScheduleConfig::configFile();
        QCOMPARE(std::ranges::count(log.messages(), "Ondaline: Removed " + leftover +
                                                        " (2 bytes), left by an interrupted save of the settings file"),
                 1);
        QCOMPARE(std::ranges::count(log.messages(),
                                    "Ondaline: ⚠ Settings file " + file +
                                        ": an image schedule entry does not decode — the image schedule "
                                        "is empty; the file is kept aside at the next save"),
                 1);
        QTest::qWait(300);  // the TCP input's first status arrives
        QCOMPARE(rig.app->dashboard().statusLabel()->text(),
                 "Image schedule not loaded: an image schedule entry does not decode");
        QCOMPARE(rig.app->scheduleConfig.stationName, "Kept");

        QVERIFY(rig.app->saveSettings());
        QVERIFY(std::ranges::any_of(log.messages(), [&](const std::string& line) {
            return line.starts_with("Ondaline: Settings file " + file + " kept aside as " + file + ".unreadable-");
        }));
        QVERIFY(rig.app->dashboard().statusLabel()->text().startsWith(
            "Earlier settings kept as ondaline_schedule.json.unreadable-"));
    }

    void keepingAsideAtLaunchIsSaidAfterWhy()
    {
        // The stream-key file fills in an empty key at launch, and that save
        // keeps the unusable settings file aside at once.
        useStation(home_.path() + "/unread-keyed");
        std::ofstream(ImageScheduleConfig::configFile()) << R"({"stationName":"Kept","entries":[7]})";
        std::ofstream(ImageScheduleConfig::streamKeyFile()) << "live-key\n";
        test::LogCapture log;
        Rig rig("tcp");
        const std::string file = ImageScheduleConfig::configFile();
        const auto lines = log.messages();
        const auto line = [&](const std::string& start) {
            return std::ranges::find_if(lines, [&](const std::string& l) { return l.starts_with(start); });
        };
        const auto why = line("Ondaline: ⚠ Settings file " + file + ": ");
        const auto aside = line("Ondaline: Settings file " + file + " kept aside as ");
        QVERIFY(why != lines.end() && aside != lines.end());
        QVERIFY(why < aside);
        QCOMPARE(rig.app->scheduleConfig.streamKey, "live-key");
        QTest::qWait(300);  // the TCP input's first status arrives
        QVERIFY(rig.app->dashboard().statusLabel()->text().startsWith("Earlier settings kept as "));
    }

    // A settings file missing, with copies kept aside beside it: the start
    // names the newest, and whose it is where another user made it.
    void aMissingFileNamesTheNewestCopyAndWhoseItIs()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "giving a file to the user nobody needs root");
        useStation(home_.path() + "/missing");
        const std::string file = ImageScheduleConfig::configFile();
        std::ofstream(file + ".edited-20240101-000000") << R"({"stationName":"Older"})";
        const std::string planted = file + ".edited-29991231-235959";
        std::ofstream(planted) << R"({"stationName":"Planted"})";
        QCOMPARE(::chown(planted.c_str(), 65534, 65534), 0);
        test::LogCapture log;
        Rig rig("tcp");
        QCOMPARE(std::ranges::count(log.messages(), "Ondaline: ⚠ Settings file " + file +
                                                        " is missing — settings start from defaults; the newest "
                                                        "earlier file is kept as " +
                                                        planted + ", which belongs to nobody"),
                 1);
    }

    // A file its owner made read-only is not kept aside at the next save:
    // the start says so, and the key's save is refused as told.
    void readOnlyFileNotUsedIsSaidToStay()
    {
        useStation(home_.path() + "/read-only");
        const std::string file = ImageScheduleConfig::configFile();
        std::ofstream(file) << "not JSON";
        std::filesystem::permissions(file, std::filesystem::perms::owner_read);
        std::ofstream(ImageScheduleConfig::streamKeyFile()) << "live-key\n";
        test::LogCapture log;
        Rig rig("tcp");
        const auto said = [&](const std::string& line) { return std::ranges::count(log.messages(), line) == 1; };
        QVERIFY(said("Ondaline: ⚠ Settings file " + file + " does not decode — settings reset to defaults; " +
                     "settings are not saved while " + file + " is read-only"));
        QVERIFY(said("Ondaline: ⚠ Settings not saved to " + file + ": " + file + " is read-only"));
        QTest::qWait(300);  // the TCP input's first status arrives
        QCOMPARE(rig.app->dashboard().statusLabel()->text(), "Settings not saved: ondaline_schedule.json is read-only");
    }

    // Another user's link in the settings folder's place is said at start
    // and at each refused save, naming the link on the status line.
    void anotherUsersLinkIsSaidAndNotFollowed()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "giving a link to the user nobody needs root");
        useStation(home_.path() + "/linked");
        const std::string folder = ImageScheduleConfig::configDir();
        const std::string elsewhere = home_.path().toStdString() + "/elsewhere";
        std::filesystem::create_directory(elsewhere);
        std::filesystem::remove(folder);
        std::filesystem::create_symlink(elsewhere, folder);
        QCOMPARE(::lchown(folder.c_str(), 65534, 65534), 0);
        test::LogCapture log;
        Rig rig("tcp");
        const auto said = [&](const std::string& line) { return std::ranges::count(log.messages(), line) == 1; };
        const auto status = [&] { return rig.app->dashboard().statusLabel()->text().toStdString(); };
        const std::string file = ImageScheduleConfig::configFile();
        const std::string why = "a link owned by nobody, not followed";
        QVERIFY(said("Ondaline: ⚠ Settings file " + file + " is reached through " + folder + ", " + why +
                     " — settings reset to defaults; settings are not saved while it is there"));
        QTest::qWait(300);  // the TCP input's first status arrives
        QCOMPARE(status(), "Settings not used: Streamer is " + why);
        QVERIFY(!rig.app->saveSettings());
        QVERIFY(said("Ondaline: ⚠ Settings not saved to " + file + ": " + folder + " is " + why));
        QCOMPARE(status(), "Settings not saved: Streamer is " + why);
        QVERIFY(std::filesystem::is_empty(elsewhere));
    }

    void localSourcePlaysAndSetsTheEngineFormat()
    {
        useStation(home_.path() + "/local");
        test::writeToneFLAC(TestAppDelegate::musicPath() + "/Song.Name.flac", 44100, 2, 440, 30);
        Rig rig("local");
        QVERIFY((rig.app->streamer->config().sampleRate == 44100 && rig.app->streamer->config().channels == 2));
        QTRY_COMPARE(rig.app->dashboard().nowPlayingLabel()->text(), "Song.Name");
        QTRY_VERIFY(rig.needle() > -20);

        rig.app->activateTCPInputMode();  // then the stopped player's meter leaves the needles alone
        QTest::qWait(100);
        rig.app->dashboard().vuMeterView()->setTargetLevelL(-40);
        QTest::qWait(300);
        QCOMPARE(rig.needle(), -40.0f);
        rig.app->activateLocalPlayerMode();  // its steady tone shows again, though its level has not changed
        QTRY_VERIFY(rig.needle() > -20);
    }

    void tcpStatusesWhileIdleAndLive()
    {
        useStation(home_.path() + "/status");
        Rig rig("tcp");
        auto& app = *rig.app;
        app.lastErrorText = "Connection refused";
        app.tcpStatusDidChange("Client connection lost");
        QCOMPARE(rig.look(), " | Connecting to source… " + waiting);
        QVERIFY(!app.lastErrorText);
        app.tcpStatusDidChange("Receiving audio: 48000Hz, 2ch");
        app.tcpStatusDidChange("Listener error: address in use");  // lamp and colour stay
        const QString shown = "lit | TCP: Listener error: address in use " + dim;
        QCOMPARE(rig.look(), shown);
        app.scheduleConfig.audioSource = "local";  // the stored source decides
        app.tcpStatusDidChange("Waiting for connection on port 9170");
        QCOMPARE(rig.look(), shown);
        app.scheduleConfig.audioSource = "tcp";

        test::TCPPeer peer([](int s) {
            test::ScriptedRTMPServer server(s);
            if (server.acceptPublish()) server.readUntilClosed();
        });
        app.streamer->configure("rtmp://127.0.0.1:" + std::to_string(peer.port()) + "/live", "key");
        app.streamer->connect();
        QTRY_VERIFY(app.streamer->state() == StreamState::publishing);
        QTest::qWait(50);  // the live look the engine's report posts
        const QString live = rig.look();
        app.tcpStatusDidChange("Client connection lost");
        QCOMPARE(rig.look(), live);

        test::LogCapture log;  // while live a track's name also goes on the picture
        app.playerTrackDidChange("Song.Name.flac");
        QCOMPARE(app.streamer->currentSongText(), "Song.Name");
        const auto lines = log.messages();
        QCOMPARE(std::count(lines.begin(), lines.end(), "Ondaline: Now Playing updated (local player) — Song.Name"), 1);
        app.streamer->disconnect();
    }

    void spaceTogglesAutoScrollOnlyOnTheActivityPage()
    {
        useStation(home_.path() + "/keys");
        Rig rig("tcp");
        QWindow* dashboard = rig.app->window->windowHandle();
        QLineEdit other;  // a field of another window
        other.show();
        QTest::keyClick(dashboard, Qt::Key_Space);  // drawer closed
        rig.app->toggleSettingsDrawer();
        QTRY_VERIFY(rig.app->isDrawerOpen());
        QTest::keyClick(dashboard, Qt::Key_Space);  // the settings page
        QVERIFY(rig.app->activityPage().activityAutoScroll());
        rig.app->openActivityDrawer();
        QTRY_VERIFY(rig.app->isDrawerOpen() && rig.app->activeDrawer() == DrawerPage::activity);
        QTest::keyClick(dashboard, Qt::Key_Space);
        QVERIFY(!rig.app->activityPage().activityAutoScroll());
        QTest::keyClick(dashboard, Qt::Key_Space, Qt::ShiftModifier);
        QVERIFY(rig.app->activityPage().activityAutoScroll());
        QTest::keyClick(&other, Qt::Key_Space);  // typed elsewhere: it stays there
        QVERIFY(rig.app->activityPage().activityAutoScroll());
        QCOMPARE(other.text(), " ");
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
