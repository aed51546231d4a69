// Application capture on the PulseAudio peer: the start's outcomes as the
// dashboard shows them, the program ending, and switches that come while a
// start is under way, after which only one source runs.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "models/station_path.h"
#include "sources/audio_source_capture.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "support/log_capture.h"
#include "support/peer_env.h"
#include "support/private_home.h"
#include "support/process.h"
#include "support/tcp_peer.h"
#include "ui/console/console_paint.h"
#include "ui/console/led_indicator_view.h"
#include "ui/console/vu_meter_view.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace ondaline;
using namespace ondaline::app;

namespace {

const QString dim = ui::white(1.0, 0.4).name(QColor::HexArgb);
const QString waitingLook = QString::fromUtf8(" | Connecting to source… ") + ui::white(1.0, 0.25).name(QColor::HexArgb);
const std::string pid = std::to_string(::getpid());
// Other tests play pacat tones on the same peer; ours goes by a program name
// of its own, which is what the settings keep of an application.
const std::string program = "ondaline-tone-" + pid;

bool anyLine(const test::LogCapture& log, const std::string& start)
{
    const auto lines = log.messages();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.starts_with(start); });
}

}  // namespace

class SourcesPulseTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    QString toneFile_;  // 30 s of 440 Hz at peak 0.25, 48 kHz stereo float
    QProcess tone_;
    std::shared_ptr<QtMainExecutor> main_;
    std::unique_ptr<TestAppDelegate> app_;

    QString look() const
    {
        return QString(app_->dashboard().ledView()->isLit() ? "lit" : "") + " | " +
               app_->dashboard().statusLabel()->text() + " " +
               app_->dashboard().statusLabel()->palette().color(QPalette::WindowText).name(QColor::HexArgb);
    }
    static int capturesRunning()  // the server's record streams of this process
    {
        const std::string all = test::runCommand("pactl list source-outputs").output;
        const std::string ours = "application.process.id = \"" + pid + "\"";
        int count = 0;
        for (auto at = all.find(ours); at != std::string::npos; at = all.find(ours, at + 1)) ++count;
        return count;
    }
    static bool playing(const std::string& binary)
    {
        const auto sources = sources::AudioSourceCapture::create()->availableSources();
        return std::any_of(sources.begin(), sources.end(), [&](const auto& s) { return s.bundleIdentifier == binary; });
    }

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home_.path());
        StationPath::save((home_.path() + "/station").toStdString());
        const auto peer = test::loadPeerEnv(test::soundPeer());
        QVERIFY2(!peer.empty(), "the pulse peer is not running");
        qputenv("PULSE_SERVER", QByteArray::fromStdString(peer.at("PULSE_SERVER")));
        main_ = std::make_shared<QtMainExecutor>();
        std::vector<float> samples(48000 * 30 * 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = 0.25f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * double(i / 2) / 48000));
        }
        toneFile_ = home_.path() + "/tone.raw";
        QFile file(toneFile_);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(samples.data()), static_cast<qint64>(samples.size() * sizeof(float)));
    }
    void init()
    {
        tone_.start("pacat", {"--playback", "--raw", "--format=float32le", "--rate=48000", "--channels=2",
                              "--property=application.name=Tone Maker",
                              QString::fromStdString("--property=application.process.binary=" + program), toneFile_});
        app_ = std::make_unique<TestAppDelegate>(main_);
        app_->tcpServer = sources::TCPAudioServer::create(main_, test::closedPort());
        app_->buildDashboard();
        app_->scheduleConfig.appCaptureBundleID = program;
        app_->scheduleConfig.appCaptureName = "Tone Maker";
        QTRY_VERIFY(playing(program));
    }
    void cleanup()
    {
        app_.reset();
        tone_.kill();
        tone_.waitForFinished();
        QCOMPARE(capturesRunning(), 0);
    }

    void theSavedProgramIsCapturedUntilItEnds()
    {
        test::LogCapture log;
        app_->activateAppCaptureMode();
        QCOMPARE(look(), waitingLook);
        QTRY_COMPARE(look(), "lit | Connected to Tone Maker " + dim);
        QVERIFY(app_->appCapture()->isCapturing());
        // A sine of peak 0.25 is −15 dBFS RMS: 3 on the meter.
        const double expected = 20 * std::log10(0.25 / std::numbers::sqrt2) + 18;
        QTRY_VERIFY(std::abs(app_->dashboard().vuMeterView()->targetLevelL() - expected) < 1.0);
        QVERIFY(std::abs(app_->dashboard().vuMeterView()->targetLevelR() - expected) < 1.0);

        tone_.kill();
        QTRY_COMPARE(look(), waitingLook);
        QVERIFY(log.contains("AppCapture error: the application stopped playing") &&
                !anyLine(log, "AppCapture start error"));
        // No more sound: the needles rest, they do not hold the last reading.
        QTRY_VERIFY_WITH_TIMEOUT(app_->dashboard().vuMeterView()->targetLevelL() < -100 &&
                                     app_->dashboard().vuMeterView()->targetLevelR() < -100,
                                 2000);
        QVERIFY(app_->appCapture() &&
                app_->activeAudioSource() == AudioSourceKind::appCapture);  // no restart, nothing dropped
    }

    void aStartThatFindsNothingOrFailsIsTold()
    {
        test::LogCapture log;
        app_->scheduleConfig.appCaptureBundleID = "ondaline-no-such-program";
        app_->activateAppCaptureMode();
        const QString notPlaying = "App Capture: 'Tone Maker' is not playing any sound";
        QTRY_COMPARE(look(), " | " + notPlaying + " " + ui::white(1.0, 0.25).name(QColor::HexArgb));
        QVERIFY(!app_->appCapture()->isCapturing() &&
                log.contains("AppCapture start error: 'Tone Maker' is not playing any sound"));

        // This program's own sound is offered, but never captured.
        app_->player->setup();
        const std::string self = QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
        QTRY_VERIFY(playing(self));
        app_->scheduleConfig.appCaptureBundleID = self;
        app_->activateAppCaptureMode();
        QTRY_VERIFY(log.contains("AppCapture start error: Ondaline's own sound is never captured"));
        QVERIFY(!app_->dashboard().ledView()->isLit());
    }

    // Whenever the switch comes, before, during or after the start, no
    // capture runs on and the start never shows.
    void aSwitchDuringAStartLeavesOneSource()
    {
        test::LogCapture log;
        for (int round = 0; round < 8; ++round) {
            app_->activateAppCaptureMode();
            QTest::qWait(round * 8);
            const bool tcp = round % 2 == 1;
            if (tcp) app_->activateTCPInputMode();
            else app_->activateLocalPlayerMode();
            QTest::qWait(500);  // the start under way has ended by now
            QCOMPARE(capturesRunning(), 0);
            QCOMPARE(look(), tcp ? waitingLook : "lit | Connected to Local Player " + dim);
        }
        QVERIFY(anyLine(log, "AudioSourceCapture: Setting up capture for 'Tone Maker'"));  // starts got that far

        // Picked again while the first start runs, with no name saved: only
        // the newer capture is left.
        app_->scheduleConfig.appCaptureName.clear();
        app_->activateAppCaptureMode();
        QTest::qWait(5);
        app_->stopAppCapture();
        app_->activateAppCaptureMode();
        QTRY_COMPARE(look(), "lit | Connected to App Capture " + dim);
        QTest::qWait(500);
        QCOMPARE(capturesRunning(), 1);
    }
};

QTEST_MAIN(SourcesPulseTest)
#include "sources_pulse_test.moc"
