// Switching the audio source: each switch's look and log line, what stops
// and starts, and the captured buffers' way to the engine, the meter and the
// bars, which a capture that is no longer current never takes.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "engine/ondaline.h"
#include "models/image_schedule_config.h"
#include "models/station_path.h"
#include "sources/audio_source_capture.h"
#include "sources/spectrum_analyzer.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "support/log_capture.h"
#include "support/needs.h"
#include "support/private_home.h"
#include "support/scripted_rtmp_server.h"
#include "support/tcp_peer.h"
#include "ui/console/console_paint.h"
#include "ui/console/led_indicator_view.h"
#include "ui/console/vu_meter_view.h"

#include <QLabel>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

using namespace ondaline;
using namespace ondaline::app;

namespace {

const QString dim = ui::white(1.0, 0.4).name(QColor::HexArgb);
const QString waitingLook = QString::fromUtf8(" | Connecting to source… ") + ui::white(1.0, 0.25).name(QColor::HexArgb);

struct Rig {
    std::shared_ptr<QtMainExecutor> main = std::make_shared<QtMainExecutor>();
    std::unique_ptr<TestAppDelegate> app = std::make_unique<TestAppDelegate>(main);
    std::uint16_t tcpPort = test::closedPort();

    Rig()
    {
        app->tcpServer = sources::TCPAudioServer::create(main, tcpPort);
        app->buildDashboard();
    }
    QString look() const  // "[lit] | status colour"
    {
        return QString(app->dashboard().ledView()->isLit() ? "lit" : "") + " | " +
               app->dashboard().statusLabel()->text() + " " +
               app->dashboard().statusLabel()->palette().color(QPalette::WindowText).name(QColor::HexArgb);
    }
    bool tcpListening() const
    {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(tcpPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool accepted = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(s);
        return accepted;
    }
    // One buffer handed over as the capture's queue does; the needles after it.
    QString deliver(sources::AudioSourceCapture& capture, std::uint64_t generation, const std::vector<float>& samples,
                    std::uint32_t channels, bool planar, double rate)
    {
        sources::AudioSampleBuffer buffer;
        buffer.numSamples = static_cast<std::uint32_t>(samples.size() / channels);
        buffer.format = sources::AudioStreamDescription::interleavedFloat(rate, channels);
        if (planar) buffer.format->formatFlags |= sources::AudioStreamDescription::flagIsNonInterleaved;
        buffer.data = Bytes(samples.size() * sizeof(float));
        std::memcpy(buffer.data->data(), samples.data(), buffer.data->size());
        capture.handleSampleBuffer(buffer, generation);
        QCoreApplication::processEvents();
        return QString::number(app->dashboard().vuMeterView()->targetLevelL(), 'f', 2) + " " +
               QString::number(app->dashboard().vuMeterView()->targetLevelR(), 'f', 2);
    }
};

}  // namespace

class SourcesTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home_.path());
        qputenv("PULSE_SERVER", "unix:/nonexistent");  // none of this machine's sound
        StationPath::save((home_.path() + "/station").toStdString());
    }

    void eachSwitchShowsItsSourceAndLogsIt()
    {
        Rig rig;
        auto& app = *rig.app;
        test::LogCapture log;
        app.activateTCPInputMode();
        QCOMPARE(app.activeAudioSource(), AudioSourceKind::tcp);
        QCOMPARE(rig.look(), waitingLook);
        QVERIFY(!app.player->streamer());
        QTRY_VERIFY(rig.tcpListening());  // the listener comes up on the input's queue
        QVERIFY(log.contains("Dashboard: Switched to TCP Input mode"));

        app.lastErrorText = "Stream key is empty";  // the source's newer word replaces it
        app.activateLocalPlayerMode();
        QCOMPARE(app.activeAudioSource(), AudioSourceKind::local);
        QCOMPARE(rig.look(), "lit | Connected to Local Player " + dim);
        QVERIFY(!app.lastErrorText && app.player->streamer() == app.streamer);
        QTRY_VERIFY(!rig.tcpListening());
        QVERIFY(log.contains("TestPlayer: Playlist is empty"));
        QVERIFY(log.contains("Dashboard: Switched to Local Player mode"));

        // No application saved: a capture object, and nothing asked of the
        // sound server. Every switch drops the capture it replaces. The
        // player's last title is not the capture's.
        app.playerTrackDidChange("Last Song.flac");
        QCOMPARE(app.dashboard().nowPlayingLabel()->text(), QString("Last Song"));
        app.activateAppCaptureMode();
        QCOMPARE(app.dashboard().nowPlayingLabel()->text(), QString());
        QCOMPARE(app.activeAudioSource(), AudioSourceKind::appCapture);
        QCOMPARE(rig.look(), waitingLook);
        QVERIFY(app.appCapture() && !app.player->streamer());
        QVERIFY(log.contains("Dashboard: Switched to App Capture mode"));
        const auto first = app.appCapture();
        app.activateAppCaptureMode();
        QVERIFY(app.appCapture() && app.appCapture() != first);
        app.stopAppCapture();
        QVERIFY(!app.appCapture() && app.activeAudioSource() == AudioSourceKind::appCapture);
        QCOMPARE(rig.look(), waitingLook);
        QTest::qWait(200);
        const auto lines = log.messages();
        QVERIFY(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.starts_with("AudioSourceCapture:") || line.starts_with("AppCapture");
        }));
    }

    // An application named in settings that others may change (the group
    // may write the file, or another user owns it) is only offered: told,
    // and nothing of it followed or captured until it is picked here. In
    // settings of one's own it is followed at once.
    void anApplicationNamedWhereOthersMayChangeTheSettingsIsOnlyOffered()
    {
        StationPath::save((home_.path() + "/offered").toStdString());
        const auto back = qScopeGuard([this] { StationPath::save((home_.path() + "/station").toStdString()); });
        QVERIFY(!ImageScheduleConfig::ensureDirectory());
        const std::string file = ImageScheduleConfig::configFile();
        std::ofstream(file)
            << R"({"audioSource": "appcapture", "appCaptureBundleID": "auto", "appCaptureName": "Auto"})";
        const QString offered =
            QString::fromUtf8(" | App Capture: 'Auto' from settings others may change — pick to capture ");
        const auto startsOn = [](test::LogCapture& log) {
            Rig rig;
            rig.app->activateAudioSource(audioSourceNamed(rig.app->scheduleConfig.audioSource));  // as at start
            // Followed, it asks the sound server for the application, and
            // there is none here; a follower has looked within two seconds,
            // even on a busy machine.
            const auto followed = [&] {
                const auto lines = log.messages();
                return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
                    return line.starts_with("AppCapture: no sound server") || line.starts_with("AudioSourceCapture:");
                });
            };
            for (int waited = 0; waited < 2000 && !followed(); waited += 100) QTest::qWait(100);
            return std::make_pair(rig.look(), followed());
        };
        QCOMPARE(::chmod(file.c_str(), 0644), 0);
        {
            test::LogCapture log;
            const auto [look, followed] = startsOn(log);
            QVERIFY2(!look.contains("pick to capture") && followed, qPrintable(look));
        }
        QCOMPARE(::chmod(file.c_str(), 0664), 0);  // the group may write it
        {
            test::LogCapture log;
            const auto [look, followed] = startsOn(log);
            QCOMPARE(look, offered + ui::white(1.0, 0.25).name(QColor::HexArgb));
            QVERIFY(!followed);
            QVERIFY(log.contains("AppCapture: 'Auto' from settings others may change — pick to capture"));
        }
        ONDALINE_QT_NEEDS(::geteuid() == 0, "giving the settings file to another user needs root");
        QCOMPARE(::chmod(file.c_str(), 0644), 0);
        QCOMPARE(::chown(file.c_str(), 65534, 65534), 0);  // another user's
        test::LogCapture log;
        const auto [look, followed] = startsOn(log);
        QCOMPARE(look, offered + ui::white(1.0, 0.25).name(QColor::HexArgb));
        QVERIFY(!followed);
    }

    // The current capture's buffers reach a live stream at their own rate,
    // then the needles and the bars; a capture replaced reaches none of them.
    void captureBuffersReachEngineMeterAndBarsWhileCurrent()
    {
        test::TCPPeer server([](int s) {
            test::ScriptedRTMPServer rtmp(s);
            if (rtmp.acceptPublish()) rtmp.readUntilClosed();
        });
        Rig rig;
        auto& app = *rig.app;
        auto& engine = *app.streamer;
        engine.configure("rtmp://127.0.0.1:" + std::to_string(server.port()) + "/live", "key", 128000, 44100, 2);
        engine.connect();
        QTRY_VERIFY(engine.state() == StreamState::publishing);
        app.activateAppCaptureMode();
        const auto capture = app.appCapture();
        test::LogCapture log;
        const std::vector<float> marked(40, 0.5f);
        engine.setSpectrumLevels(marked);

        std::vector<float> planar(2046, 0.05f);  // 1023 frames, left plane 0.5, right 0.05
        std::fill_n(planar.begin(), 1023, 0.5f);
        QCOMPARE(rig.deliver(*capture, 0, planar, 2, true, 48000), "11.98 -8.02");
        QVERIFY(log.contains("Ondaline: ✅ Resampler ready — 48000Hz → 44100Hz"));
        QCOMPARE(engine.spectrumLevels(), marked);  // too short for the bars
        QCOMPARE(rig.deliver(*capture, 0, std::vector<float>(1024, 0.1f), 1, false, 44100), "-2.00 -2.00");
        QCOMPARE(engine.spectrumLevels(), app.sourceSwitcher().appCaptureSpectrum().levels);
        QVERIFY(engine.spectrumLevels() != marked);
        QCOMPARE(rig.deliver(*capture, 0, std::vector<float>(2048, 0.0f), 2, false, 44100), "-182.00 -182.00");

        app.activateLocalPlayerMode();
        app.dashboard().vuMeterView()->setTargetLevelL(-40);
        app.dashboard().vuMeterView()->setTargetLevelR(-40);
        engine.setSpectrumLevels(marked);
        // The stopped capture's own generation: only the switch holds it back.
        QCOMPARE(rig.deliver(*capture, 1, std::vector<float>(4096, 0.5f), 2, true, 32000), "-40.00 -40.00");
        QCOMPARE(engine.spectrumLevels(), marked);
        QVERIFY(!log.contains("Ondaline: ✅ Resampler ready — 32000Hz → 44100Hz"));
        engine.disconnect();
    }
};

QTEST_MAIN(SourcesTest)
#include "sources_test.moc"
