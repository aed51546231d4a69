// Start and Stop against the engine: what each service and source hands
// over, stopping in every phase before live, the looks that follow the
// engine's reports, the uptime clock and the failures and notices shown on
// the line.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "app/streaming_service.h"
#include "engine/ondaline.h"
#include "models/station_path.h"
#include "sources/audio_source_capture.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "support/log_capture.h"
#include "support/pcm_sender.h"
#include "support/peer_env.h"
#include "support/private_home.h"
#include "support/scripted_rtmp_server.h"
#include "support/tcp_peer.h"
#include "ui/console/console_button.h"
#include "ui/console/console_paint.h"
#include "ui/console/led_indicator_view.h"

#include <QComboBox>
#include <QLabel>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace ondaline;
using namespace ondaline::app;

namespace {

const QString dim = ui::white(1.0, 0.4).name(QColor::HexArgb);
const QString waiting = ui::white(1.0, 0.25).name(QColor::HexArgb);
const QString green = ui::rgba(0.27, 0.87, 0.27, 0.7).name(QColor::HexArgb);

// One controller in its idle look, on a clock that moves by hand.
struct Rig {
    std::shared_ptr<QtMainExecutor> main = std::make_shared<QtMainExecutor>();
    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    QWidget spare;
    std::unique_ptr<TestAppDelegate> app = std::make_unique<TestAppDelegate>(main, clock);

    explicit Rig(const std::string& serverURL = "rtmp://127.0.0.1:1/live", const std::string& key = "")
    {
        // No sound server: the looks here are the stream's.
        app->player = sources::TestPlayer::create(main, {.useSoundServer = false});
        app->scheduleConfig.serverURL = serverURL;
        app->scheduleConfig.streamKey = key;  // none: the engine refuses at once, nothing connects
        app->applicationDidFinishLaunching();
        if (!app->dashboard().connectButton()) app->dashboard().build(spare, {}, {});  // no window yet
        app->setDisconnectedUI();
    }
    OndalineDelegate& events() { return *app->streamer->delegate(); }
    // "title [gold] [green] [lit] | status colour"
    QString look() const
    {
        const auto& button = *app->dashboard().connectButton();
        return button.title() + (button.isGold() ? " gold" : "") + (button.isGreen() ? " green" : "") +
               (app->dashboard().ledView()->isLit() ? " lit" : "") + " | " + app->dashboard().statusLabel()->text() +
               " " + app->dashboard().statusLabel()->palette().color(QPalette::WindowText).name(QColor::HexArgb);
    }
    void settle()  // what the engine and the controller have posted runs
    {
        app->streamer->networkQueue().sync([] {});
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }
    void press()
    {
        app->toggleConnect();
        settle();
    }
};

}  // namespace

class StreamingTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home_.path());
        StationPath::save((home_.path() + "/station").toStdString());
    }

    void startHandsTheStoredSettingsOver()
    {
        Rig rig;
        auto& config = rig.app->scheduleConfig;
        auto& engine = *rig.app->streamer;
        config.streamMode = "youtube";
        config.audioBitrate = 96000;
        config.crawler.enabled = true;
        rig.press();
        QVERIFY(engine.streamMode() == StreamMode::youtube);
        QVERIFY((engine.config() == Configuration{"rtmp://127.0.0.1:1/live", "", 128000, 44100, 2}));
        QVERIFY(engine.crawlerConfig().enabled);
        QCOMPARE(engine.crawlerFilePath(), StationPath::load() + "/Misc/System/crawler.txt");
        QCOMPARE(rig.look(), "Start Streaming gold lit | Stream key is empty " + dim);

        config.streamMode = "facebook";
        config.audioSource = "appcapture";
        rig.app->activateAppCaptureMode();  // no application saved: made, not capturing
        rig.press();
        QCOMPARE(engine.config().sampleRate, 44100.0);
        rig.app->lastErrorText.reset();
        rig.app->setDisconnectedUI();
        QCOMPARE(rig.look(), "Start Streaming gold | Connecting to source… " + waiting);

        // Icecast: its four fields and the audio format, nothing else.
        config.streamMode = "icecast";
        config.icecastHost = "radio.example";
        config.icecastPort = 8010;
        config.crawler.enabled = false;
        IcecastConfig before = engine.icecastConfig();
        before.username = "dj";
        engine.setIcecastConfig(before);
        rig.press();
        const IcecastConfig after = engine.icecastConfig();
        QVERIFY(after.host == "radio.example" && after.port == 8010 && after.username == "dj");
        QVERIFY((engine.config() == Configuration{"rtmp://127.0.0.1:1/live", "", 96000, 48000, 2}));
        QVERIFY(engine.crawlerConfig().enabled);
        QCOMPARE(rig.look(), "Start Streaming gold | Icecast source password is empty " + dim);

        // A port the engine cannot hold: refused before anything is touched.
        test::LogCapture log;
        config.icecastPort = 70000;
        config.icecastHost = "other.example";
        engine.setStreamMode(StreamMode::rtmp);
        rig.press();
        QVERIFY(engine.streamMode() == StreamMode::rtmp && engine.icecastConfig().host == "radio.example");
        QVERIFY(log.contains("Ondaline: Invalid Icecast port: 70000"));
        QCOMPARE(rig.look(), "Start Streaming gold | Invalid Icecast port: 70000 " + dim);
    }

    void tcpTakesTheLastAcceptedHandshake()
    {
        Rig rig;
        rig.app->scheduleConfig.audioSource = "tcp";
        const std::uint16_t port = test::closedPort();
        rig.app->tcpServer = sources::TCPAudioServer::create(rig.main, port);
        rig.app->tcpServer->start();
        test::PCMSender refused;
        QVERIFY(refused.connect(port) && refused.sendAndClose(test::PCMSender::handshake(44100, 0)));
        QTRY_COMPARE(rig.app->tcpServer->clientChannels(), 0u);
        rig.press();
        QCOMPARE(rig.app->streamer->config().channels, 2u);

        test::PCMSender sender;
        QVERIFY(sender.connect(port));
        sender.startTone({.sampleRate = 48000, .channels = 1});
        QTRY_VERIFY(rig.app->tcpServer->isReceiving());
        rig.press();
        QCOMPARE(rig.app->streamer->config().sampleRate, 48000.0);
        QCOMPARE(rig.app->streamer->config().channels, 1u);
    }

    void stopInEveryPhaseBeforeLive()
    {
        std::atomic<bool> accepted = false;  // so no stop comes before the peer's accept
        auto silent = [&accepted](int s) {
            accepted = true;
            test::TCPPeer::readToEnd(s);
        };
        auto handshakeOnly = [](int s) {
            test::ScriptedRTMPServer server(s);
            if (server.handshake()) server.readUntilClosed();
        };
        auto liveThenGone = [](int s) { test::ScriptedRTMPServer(s).acceptPublish(); };
        struct Phase {
            const char* scheme;
            test::TCPPeer::Script peer;
            std::function<bool(Ondaline&)> reached;
        };
        const std::vector<Phase> phases{
            {"rtmps", silent, [&](Ondaline& e) { return accepted && e.state() == StreamState::connecting; }},
            {"rtmp", silent, [](Ondaline& e) { return e.state() == StreamState::handshaking; }},
            {"rtmp", handshakeOnly, [](Ondaline& e) { return e.state() == StreamState::negotiating; }},
            {"rtmp", liveThenGone, [](Ondaline& e) { return e.isReconnectPending(); }},
        };
        for (const auto& phase : phases) {
            test::TCPPeer peer(phase.peer);
            Rig rig(std::string(phase.scheme) + "://127.0.0.1:" + std::to_string(peer.port()) + "/live", "key");
            rig.app->toggleConnect();
            QCOMPARE(rig.look(), "Stop Streaming lit | Connecting to stream… " + dim);
            QTRY_VERIFY(phase.reached(*rig.app->streamer));
            if (rig.app->streamer->isReconnectPending()) {
                QTRY_COMPARE(rig.look(), "Stop Streaming lit | Reconnecting (1/10)… " + dim);
            }
            rig.app->toggleConnect();
            QCOMPARE(rig.look(), "Start Streaming gold lit | Connected to Local Player " + dim);
            QVERIFY(rig.app->streamer->state() == StreamState::idle && !rig.app->streamer->isReconnectPending());
        }
    }

    // A bitrate the program does not offer, as a hand-edited file gives it
    // ("audioBitrate": 128, meant as kbit/s, is 128 bit/s): refused at start
    // and told with the one used instead, which the drawer, the engine's
    // encoder and the live status line share.
    void aBitrateNotOfferedIsRefusedAndTold()
    {
        ImageScheduleConfig::ensureDirectory();
        const std::string file = ImageScheduleConfig::configFile();
        std::ofstream(file) << R"({"streamMode": "rtmp", "audioBitrate": 128})";
        const auto removed = qScopeGuard([&] { std::filesystem::remove(file); });
        test::LogCapture log;
        Rig rig;
        QCOMPARE(std::ranges::count(log.messages(), "Ondaline: ⚠ Settings file " + file +
                                                        ": audioBitrate 128 is not offered (96000, 128000, 192000, "
                                                        "256000 or 320000 bit/s) — 320000 is used"),
                 1);
        QCOMPARE(rig.look(), "Start Streaming gold lit | Bitrate 128 not offered: 320 kbps used " + dim);
        const std::unique_ptr<QWidget> page(rig.app->buildSettingsDrawerContent());
        QCOMPARE(rig.app->settingsPage().drBitratePopup()->currentText(), "320 kbps");

        rig.press();
        QCOMPARE(rig.app->streamer->config().audioBitrate, 320000);
        rig.clock->advance(60);  // past the notice
        rig.app->setConnectedUI();
        QCOMPARE(rig.app->dashboard().statusLabel()->text(), "Connected to stream | RTMP 320k | 00:00:00");
        rig.app->setDisconnectedUI();
        rig.app->scheduleConfig.streamMode = "icecast";
        rig.press();
        QCOMPARE(rig.app->streamer->config().audioBitrate, 320000);
    }

    // The same notice, and Start pressed at once against the nginx peer: the
    // live status comes with the stream, not once the notice's time is over.
    void aNoticeAtStartGivesWayToTheLiveStatus()
    {
        const auto rtmp = test::loadPeerEnv("rtmp");
        QVERIFY2(!rtmp.empty(), "the nginx-rtmp peer is not running");
        ImageScheduleConfig::ensureDirectory();
        const std::string file = ImageScheduleConfig::configFile();
        std::ofstream(file) << R"({"streamMode": "rtmp", "audioBitrate": 128})";
        const auto removed = qScopeGuard([&] { std::filesystem::remove(file); });
        Rig rig(rtmp.at("ONDALINE_RTMP_URL"), "notice-" + std::to_string(QCoreApplication::applicationPid()));
        QCOMPARE(rig.look(), "Start Streaming gold lit | Bitrate 128 not offered: 320 kbps used " + dim);

        rig.app->toggleConnect();
        QTRY_VERIFY_WITH_TIMEOUT(rig.app->isUptimeClockRunning(), 20000);
        rig.clock->advance(2);
        const QString live = "Stop Streaming green lit | Connected to stream | RTMP 320k | ";
        QTRY_VERIFY2_WITH_TIMEOUT(rig.look().startsWith(live) && rig.look().endsWith(green), qPrintable(rig.look()),
                                  2000);
        rig.app->toggleConnect();
        QTRY_VERIFY(rig.app->streamer->state() == StreamState::idle);
    }

    void looksFollowTheEnginesReports()
    {
        Rig rig;
        rig.app->scheduleConfig.streamMode = "youtube";
        rig.app->scheduleConfig.audioBitrate = 96000;
        auto& engine = *rig.app->streamer;
        const QString idle = rig.look();
        rig.events().ondalineDidChangeState(engine, StreamState::connecting);
        rig.events().ondalineDidChangeState(engine, StreamState::publishing);
        QCOMPARE(rig.look(), idle);  // on a later turn
        QCoreApplication::processEvents();
        QCOMPARE(rig.look(), "Stop Streaming green lit | Connected to stream | YouTube 96k | 00:00:00 " + green);
        // Settings that send a service's stream elsewhere say where.
        engine.configure("rtmp://Evil.example/live2", "key");
        rig.events().ondalineDidChangeState(engine, StreamState::publishing);
        QCoreApplication::processEvents();
        QCOMPARE(rig.look(),
                 "Stop Streaming green lit | Connected to stream | YouTube at evil.example 96k | 00:00:00 " + green);
        engine.configure(std::string(kYouTubeIngestURL), "key");
        rig.events().ondalineDidChangeState(engine, StreamState::publishing);
        QCoreApplication::processEvents();

        rig.clock->advance(3725);
        QTRY_VERIFY(rig.app->dashboard().statusLabel()->text().endsWith("| 01:02:05"));
        rig.clock->advance(100 * 3600 - 3725);
        QTRY_VERIFY(rig.app->dashboard().statusLabel()->text().endsWith("| 100:00:00"));
        // A notice's kind decides, whatever its words say.
        test::LogCapture log;
        rig.events().ondalineDidUpdateStats(engine, 1000, 10);
        rig.events().ondalineDidEncounterError(engine, "Reconnecting (3/10)…", NoticeKind::unstable);
        QCoreApplication::processEvents();
        QCOMPARE(rig.look(), "Stop Streaming green lit | Connected to stream | YouTube 96k | 100:00:00 " + green);
        QVERIFY(log.contains("Ondaline: Reconnecting (3/10)…"));

        rig.events().ondalineDidEncounterError(engine, "Stream unhealthy — reconnecting in 5s (1/3)…",
                                               NoticeKind::unhealthy);
        QCoreApplication::processEvents();
        QCOMPARE(rig.look(), "Stop Streaming lit | Stream unhealthy — reconnecting in 5s (1/3)… " + dim);
        QVERIFY(!rig.app->isUptimeClockRunning());  // nothing writes over the notice

        rig.events().ondalineDidChangeState(engine, StreamState::idle);
        rig.events().ondalineDidEncounterError(engine, "Disconnected: trying again", NoticeKind::retrying);
        QCoreApplication::processEvents();
        QCOMPARE(rig.look(), "Stop Streaming lit | Disconnected: trying again " + dim);
        rig.events().ondalineDidChangeState(engine, StreamState::disconnecting);
        QCoreApplication::processEvents();
        QCOMPARE(rig.look(), "Stop Streaming lit | Connecting to stream… " + dim);

        // A failure stays through the idle looks that follow, until a press
        // or the live look.
        rig.events().ondalineDidEncounterError(engine, "Disconnected after 10 reconnect attempts", NoticeKind::failure);
        rig.events().ondalineDidChangeState(engine, StreamState::error);
        rig.events().ondalineDidDisconnect(engine);
        QCoreApplication::processEvents();
        QCOMPARE(rig.look(), "Start Streaming gold lit | Disconnected after 10 reconnect attempts " + dim);
        rig.app->toggleConnect();  // fails anew: no stream key
        QVERIFY(!rig.app->lastErrorText);
        rig.settle();
        QCOMPARE(rig.look(), "Start Streaming gold lit | Stream key is empty " + dim);
        rig.events().ondalineDidConnect(engine);
        rig.events().ondalineDidChangeState(engine, StreamState::idle);
        QCoreApplication::processEvents();
        QCOMPARE(rig.look(), "Start Streaming gold lit | Connected to Local Player " + dim);

        // Reports that arrive after the controller has gone change nothing.
        const auto events = engine.delegate();
        const auto streamer = rig.app->streamer;
        rig.app.reset();
        events->ondalineDidChangeState(*streamer, StreamState::publishing);
        events->ondalineDidEncounterError(*streamer, "Connection failed: refused", NoticeKind::failure);
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(StreamingTest)
#include "streaming_test.moc"
