// The settings page's actions and the autosave, driven through the page's
// own controls: what reaches the settings file, byte for byte, the station
// pointer file, the one-second throttle and the debounce of typing.

#include "app/app_delegate.h"
#include "app/appearance_page.h"
#include "app/qt_main_executor.h"
#include "app/settings_choices.h"
#include "models/settings_codec.h"
#include "models/station_path.h"
#include "sources/tcp_audio_server.h"
#include "support/log_capture.h"
#include "support/private_home.h"
#include "support/tcp_peer.h"
#include "support/wheel.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QParallelAnimationGroup>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace ondaline;
using namespace ondaline::app;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : "<missing>";
}
QByteArray encoded(const ImageScheduleConfig& c) { return QByteArray::fromStdString(encodeSettings(c).value()); }
void choose(QComboBox* box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}
// Replaces the field's text key by key, as a person would.
void retype(QLineEdit* field, const QString& text)
{
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// A dashboard whose station comes from the preferences suite (no pointer
// file) and whose settings file holds `stored`; its autosave on a hand clock.
struct Rig {
    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    std::shared_ptr<QtMainExecutor> main = std::make_shared<QtMainExecutor>();
    std::unique_ptr<TestAppDelegate> app;
    test::LogCapture log;

    explicit Rig(const ImageScheduleConfig& stored)
    {
        QFile::remove(QString::fromStdString(StationPath::dotFile()));
        stored.save();
        app = std::make_unique<TestAppDelegate>(main, clock);
        app->tcpServer = sources::TCPAudioServer::create(main, test::closedPort());
        app->buildDashboard();
    }
    bool toggle(bool open)
    {
        app->toggleSettingsDrawer();
        return QTest::qWaitFor([&] { return app->isDrawerOpen() == open && !app->drawer().slide(); }, 2000);
    }
    QByteArray file() const { return readAll(QString::fromStdString(ImageScheduleConfig::configFile())); }
    long saves() const { return std::ranges::count(log.messages(), std::string("Ondaline: Settings auto-saved")); }
};

}  // namespace

class SettingsDrawerTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    QString stationA_;

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home_.path());
        qputenv("PULSE_SERVER", ("unix:" + home_.path() + "/no-sound-server").toUtf8());
        stationA_ = home_.path() + "/stationA";
        QVERIFY(QDir().mkpath(home_.path() + "/config"));
        QFile prefs(home_.path() + "/config/com.quillmere.shared.json");
        QVERIFY(prefs.open(QIODevice::WriteOnly) &&
                prefs.write("{\"StationFolderPath\": \"" + stationA_.toUtf8() + "\"}") > 0);
    }

    // Each service stores its own address and bitrate floor at once and
    // rebuilds the page with its rows.
    void serviceChoiceStoresAddressAndBitrate()
    {
        ImageScheduleConfig expected;
        expected.serverURL = "rtmp://old.example/live";
        expected.streamKey = "key-1";
        Rig rig(expected);
        TestAppDelegate& app = *rig.app;
        QVERIFY(rig.toggle(true));
        const std::string yt(kYouTubeIngestURL), fb(kFacebookIngestURL);
        const auto pick = [&](int item, const std::string& url, std::int64_t bitrate) {
            rig.clock->advance(1.0);
            choose(app.settingsPage().drStreamModePopup(), item);
            const StreamMode mode = streamModeAt(item);
            expected.streamMode = streamModeName(mode);
            expected.serverURL = url;
            expected.audioBitrate = bitrate;
            const bool rows = bool(app.settingsPage().drServerURLField()) == hasServerURLField(mode) &&
                              bool(app.settingsPage().drStreamKeyField()) == hasStreamKey(mode) &&
                              bool(app.settingsPage().drIcecastPortField()) == (mode == StreamMode::icecast) &&
                              (!app.settingsPage().drServerURLField() ||
                               app.settingsPage().drServerURLField()->text().toStdString() == url);
            return rig.file() == encoded(expected) && rows ? QByteArray() : rig.file();
        };
        QCOMPARE(pick(0, yt, 128000), QByteArray());              // YouTube from 320 kbps
        app.settingsPage().drBitratePopup()->setCurrentIndex(4);  // 320 kbps, read by the next choice's autosave
        QCOMPARE(pick(3, yt, 320000), QByteArray());              // RTMP (Other) brings no old address back
        app.settingsPage().drBitratePopup()->setCurrentIndex(0);
        QCOMPARE(pick(4, yt, 96000), QByteArray());   // Icecast changes neither
        QCOMPARE(pick(0, yt, 128000), QByteArray());  // YouTube from 96 kbps
        app.settingsPage().drBitratePopup()->setCurrentIndex(4);
        QCOMPARE(pick(2, yt, 128000), QByteArray());  // Kick keeps the address, from 320 kbps
        QCOMPARE(pick(1, fb, 128000), QByteArray());
        app.settingsPage().drBitratePopup()->setCurrentIndex(2);
        QCOMPARE(pick(3, fb, 192000), QByteArray());
    }

    // A service with an ingest of its own shows the server the stream really
    // uses: another one the settings name, until the autosave stores the
    // service's own.
    void aServicesPageShowsTheServerReallyUsed()
    {
        ImageScheduleConfig stored;
        stored.streamMode = "youtube";
        stored.serverURL = "rtmp://evil.example/live2";
        Rig rig(stored);
        QVERIFY(rig.toggle(true));
        const auto hint = [&] {
            for (QWidget* widget : QApplication::allWidgets())
                if (const auto* label = qobject_cast<QLabel*>(widget); label && label->text().startsWith("Server: "))
                    return label->text();
            return QString();
        };
        QCOMPARE(hint(), "Server: rtmp://evil.example/live2");
        rig.clock->advance(1.0);
        rig.app->autoSaveDrawerSettings();
        QCOMPARE(hint(), "Server: " + QString::fromLatin1(kYouTubeIngestURL.data(), kYouTubeIngestURL.size()));
    }

    // What the autosave reads from the page: the port as typed, the station
    // name at once on Return, the application picker's first line never, and
    // the station folder, whose settings of another station are kept aside.
    void autosaveReadsThePage()
    {
        const QString stationB = home_.path() + "/stationB", streamerB = stationB + "/Misc/System/Streamer";
        ImageScheduleConfig other, expected;
        other.stationName = "Other Station";
        QFile old(streamerB + "/ondaline_schedule.json");  // another station's settings
        QVERIFY(QDir().mkpath(streamerB) && old.open(QIODevice::WriteOnly) && old.write(encoded(other)) && old.flush());
        expected.streamMode = "icecast";
        expected.icecastPort = 8100;
        expected.audioSource = "appcapture";
        expected.appCaptureBundleID = "/usr/bin/player";
        expected.appCaptureName = "Player";
        Rig rig(expected);
        TestAppDelegate& app = *rig.app;
        const QString dotFile = QString::fromStdString(StationPath::dotFile());
        QVERIFY(rig.toggle(true));
        QFile::remove(QString::fromStdString(ImageScheduleConfig::configFile()));
        // No sound server: the worker's answer replaces the picker's items,
        // in this platform's words.
        QTRY_COMPARE(app.settingsPage().drAppPickerPopup()->itemText(0), QString::fromUtf8("⚠ No sound server"));
        QVERIFY(app.settingsPage().drAppPickerPopup()->count() == 1 && app.settingsPage().drAppSources().empty());
        choose(app.settingsPage().drAppPickerPopup(), 0);
        QCOMPARE(rig.file(), QByteArray("<missing>"));

        const std::pair<QString, std::int64_t> ports[] = {{"8100 ", 8000},
                                                          {"", 8000},
                                                          {"0x1F", 8000},
                                                          {QString::fromUtf8("\u0668\u0660\u0660\u0661"), 8000},
                                                          {QString(30, '9'), 8000},
                                                          {"9223372036854775808", 8000},
                                                          {"+8200", 8200},
                                                          {"-5", -5},
                                                          {"9223372036854775807", INT64_MAX}};
        for (const auto& [typed, port] : ports) {
            rig.clock->advance(1.0);  // a whole second after the last run: runs at once
            retype(app.settingsPage().drIcecastPortField(), typed);
            app.autoSaveDrawerSettings();
            expected.icecastPort = port;
            QCOMPARE(rig.file(), encoded(expected));
        }
        QCOMPARE(readAll(dotFile), stationA_.toUtf8());  // made by the first run, exactly the path
        rig.clock->advance(0.3);
        retype(app.settingsPage().drStationNameField(), "Onda FM");
        QTest::keyClick(app.settingsPage().drStationNameField(), Qt::Key_Return);
        expected.stationName = "Onda FM";
        QCOMPARE(rig.file(), encoded(expected));

        QString asked;
        app.pickFolder = [&](QWidget*, const QString& title) -> std::optional<QString> {
            asked = title;
            return stationB;
        };
        QTest::mouseClick(app.settingsPage().drStationPathField()->parentWidget()->findChild<QPushButton*>(),
                          Qt::LeftButton);
        QVERIFY(asked == "Select Station Folder" && app.settingsPage().drStationPathField()->text() == stationB);
        rig.clock->advance(1.0);
        retype(app.settingsPage().drIcecastPortField(), "70000");
        QVERIFY(rig.toggle(false));
        expected.icecastPort = 70000;
        QCOMPARE(readAll(dotFile), stationB.toUtf8());
        QCOMPARE(readAll(streamerB + "/ondaline_schedule.json"), encoded(expected));
        const QStringList aside = QDir(streamerB).entryList({"ondaline_schedule.json.*"}, QDir::Files);
        const QRegularExpression stamped("^ondaline_schedule\\.json\\.replaced-\\d{8}-\\d{6}$");
        QVERIFY2(aside.size() == 1 && stamped.match(aside[0]).hasMatch(), qPrintable(aside.join(' ')));
        QCOMPARE(readAll(streamerB + "/" + aside[0]), encoded(other));
    }

    // A save that cannot be written says so, on the status line and in the
    // log, and is never logged as saved; the live status waits for it.
    void failedSaveIsSaidAndNeverLoggedAsSaved()
    {
        Rig rig(ImageScheduleConfig{});
        TestAppDelegate& app = *rig.app;
        QFile blocker(home_.path() + "/blocker");  // a station folder below a file cannot be made
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        const std::string station = (home_.path() + "/blocker/station").toStdString();
        StationPath::save(station);
        QVERIFY(rig.toggle(true));

        rig.clock->advance(1.0);
        retype(app.settingsPage().drStationNameField(), "Onda FM");
        app.autoSaveDrawerSettings();
        const QString why = "cannot create " + QString::fromStdString(station) +
                            "/Misc/System/Streamer (Not a directory)";
        // Too long for the line: its middle goes, never its ends.
        const QLabel& status = *app.dashboard().statusLabel();
        QVERIFY2(status.text().startsWith("Settings not saved: cannot create /") &&
                     status.text().endsWith("/Streamer (Not a directory)") && status.text().contains(QChar(0x2026)),
                 qPrintable(status.text()));
        QVERIFY(QFontMetrics(status.font()).horizontalAdvance(status.text()) <= status.contentsRect().width());
        QCOMPARE(rig.saves(), 0);
        const std::string line = "Ondaline: ⚠ Settings not saved to " + station +
                                 "/Misc/System/Streamer/ondaline_schedule.json: " + why.toStdString();
        QVERIFY(std::ranges::count(rig.log.messages(), line) == 1);

        // While live the notice holds the line for ten seconds.
        app.setConnectedUI();
        QVERIFY(app.dashboard().statusLabel()->text().startsWith("Settings not saved: "));
        rig.clock->advance(10.5);
        app.setConnectedUI();
        QVERIFY(!app.dashboard().statusLabel()->text().startsWith("Settings not saved: "));
        app.setDisconnectedUI();
        QFile::remove(QString::fromStdString(StationPath::dotFile()));
    }

    // The wheel over a pop-up of either page scrolls the page, as over the
    // rest of it: no choice changes, no action runs, nothing is saved. The
    // keyboard still chooses.
    void wheelOverPopupsScrollsThePage()
    {
        ImageScheduleConfig stored;
        stored.audioSource = "appcapture";  // the picker in view
        stored.audioBitrate = 128000;       // every pop-up off its ends where it can be
        stored.audioOutputDeviceUID = "sink-b";
        Rig rig(stored);
        TestAppDelegate& app = *rig.app;
        QVERIFY(rig.toggle(true));
        QVERIFY(QFile::remove(QString::fromStdString(ImageScheduleConfig::configFile())));
        SettingsPage& page = app.settingsPage();
        page.showOutputDevices({{"sink-a", "Speakers A", 1}, {"sink-b", "Speakers B", 2}, {"sink-c", "Speakers C", 3}},
                               "sink-b", "");
        QScrollBar* bar = app.drawer().scrollView()->verticalScrollBar();
        QVERIFY(bar->maximum() > 120);
        for (QComboBox* popup : {page.drAudioSourcePopup(), page.drAppPickerPopup(), page.drStreamModePopup(),
                                 page.drBitratePopup(), page.drAudioOutputPopup()}) {
            const int shown = popup->currentIndex(), middle = bar->maximum() / 2;
            bar->setValue(middle);
            test::turnWheel(*popup, 1);
            const bool down = bar->value() > middle;
            test::turnWheel(*popup, -1);
            QVERIFY2(down && bar->value() == middle && popup->currentIndex() == shown, qPrintable(popup->itemText(0)));
        }
        QCOMPARE(rig.file(), QByteArray("<missing>"));
        QVERIFY(rig.saves() == 0 && !app.drawerSaveDebounceTimer->isActive() &&
                std::ranges::none_of(rig.log.messages(),
                                     [](const std::string& m) { return m.starts_with("Dashboard:"); }));

        rig.clock->advance(1.0);
        app.openAppearanceDrawer();  // saves what the settings page shows
        QCOMPARE(rig.file(), encoded(stored));
        QTRY_VERIFY(app.activeDrawer() == DrawerPage::appearance && app.isDrawerOpen() && !app.drawer().slide());
        struct WheelCount : QObject {
            int count = 0;
            bool eventFilter(QObject*, QEvent* event) override
            {
                if (event->type() == QEvent::Wheel) ++count;
                return false;
            }
        } reached;
        app.drawer().scrollView()->viewport()->installEventFilter(&reached);
        for (QComboBox* popup : {app.appearancePage().drNPFontPopup(), app.appearancePage().drNPFontSizePopup()}) {
            const int shown = popup->currentIndex(), before = reached.count;
            test::turnWheel(*popup, 1);
            test::turnWheel(*popup, -1);
            QVERIFY2(reached.count == before + 2 && popup->currentIndex() == shown, qPrintable(popup->itemText(0)));
        }
        rig.clock->advance(1.0);
        app.backToSettingsDrawer();
        QCOMPARE(rig.file(), encoded(stored));

        QTRY_VERIFY(app.activeDrawer() == DrawerPage::settings && app.isDrawerOpen() && !app.drawer().slide());
        rig.clock->advance(1.0);
        QTest::keyClick(app.settingsPage().drStreamModePopup(), Qt::Key_Down);  // RTMP (Other) to Icecast
        QVERIFY(rig.file().contains("\"streamMode\":\"icecast\""));
    }

    // Calls inside the second after a run take the page at once and are
    // followed by one whole run when the second is over.
    void throttleKeepsWhatCameMeanwhile()
    {
        ImageScheduleConfig expected;
        Rig rig(expected);
        TestAppDelegate& app = *rig.app;
        QVERIFY(rig.toggle(true));
        app.autoSaveDrawerSettings();
        retype(app.settingsPage().drServerURLField(), "rtmp://one.example/live");
        rig.clock->advance(0.5);
        QElapsedTimer waited;
        waited.start();
        app.autoSaveDrawerSettings();
        QCOMPARE(rig.saves(), 1L);
        QCOMPARE(app.scheduleConfig.serverURL, std::string("rtmp://one.example/live"));
        QCOMPARE(rig.file(), encoded(expected));
        rig.clock->advance(0.5);
        QTRY_COMPARE(rig.saves(), 2L);
        QVERIFY2(waited.elapsed() >= 400 && waited.elapsed() <= 800, QByteArray::number(waited.elapsed()));
        expected.serverURL = "rtmp://one.example/live";
        QCOMPARE(rig.file(), encoded(expected));

        rig.clock->advance(0.3);  // a key typed and the drawer closed inside the second
        retype(app.settingsPage().drStreamKeyField(), "live-key");
        QVERIFY(rig.toggle(false));
        QCOMPARE(rig.saves(), 2L);
        rig.clock->advance(0.7);
        QTRY_COMPARE(rig.saves(), 3L);
        expected.streamKey = "live-key";
        QCOMPARE(rig.file(), encoded(expected));
        QVERIFY(rig.toggle(true));
        rig.clock->advance(0.2);
        choose(app.settingsPage().drAudioSourcePopup(), 1);  // TCP Input
        waited.restart();
        expected.audioSource = "tcp";
        QCOMPARE(rig.file(), encoded(expected));
        rig.clock->advance(0.8);
        QTRY_COMPARE_WITH_TIMEOUT(app.activeAudioSource(), AudioSourceKind::tcp, 1500);
        QVERIFY2(waited.elapsed() <= 1100, QByteArray::number(waited.elapsed()));
        QCOMPARE(rig.saves(), 4L);
    }

    // Real time: one autosave five seconds after the last keystroke.
    void typingIsDebounced()
    {
        ImageScheduleConfig expected;
        Rig rig(expected);
        TestAppDelegate& app = *rig.app;
        app.toggleSettingsDrawer();
        QTest::keyClicks(app.settingsPage().drServerURLField(), "x");  // during the opening slide
        QVERIFY(!app.drawerSaveDebounceTimer->isActive());
        QTRY_VERIFY(app.isDrawerOpen());
        const QString url = "rtmp://a/b";
        app.settingsPage().drServerURLField()->selectAll();
        QElapsedTimer sinceLast;
        for (qsizetype i = 0; i < url.size(); ++i) {  // ten keys over about four seconds
            if (i > 0) QTest::qWait(440);
            QTest::keyClicks(app.settingsPage().drServerURLField(), url.mid(i, 1));
            sinceLast.start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.saves(), 1L, 7000);
        QVERIFY2(std::abs(sinceLast.elapsed() - 5000) <= 300, QByteArray::number(sinceLast.elapsed()));
        expected.serverURL = url.toStdString();
        QCOMPARE(rig.file(), encoded(expected));

        // Leaving for the appearance page stops the debounce and saves.
        retype(app.settingsPage().drServerURLField(), "rtmp://c/d");
        QVERIFY(app.drawerSaveDebounceTimer->isActive());
        rig.clock->advance(1.0);
        app.openAppearanceDrawer();
        expected.serverURL = "rtmp://c/d";
        QVERIFY(!app.drawerSaveDebounceTimer->isActive() && rig.file() == encoded(expected));
        QTRY_VERIFY(app.activeDrawer() == DrawerPage::appearance && app.isDrawerOpen() &&
                    !app.settingsPage().drServerURLField());
        QCOMPARE(rig.saves(), 2L);
    }
};

QTEST_MAIN(SettingsDrawerTest)
#include "settings_drawer_test.moc"
