// Application capture on a sound server of the test's own (the picker lists
// every application playing there): the application chosen and followed
// while it plays or pauses, as the dashboard shows it and as it goes on air
// to the nginx peer, the picker following the applications, and switches
// that come while a start is under way, after which only one source runs;
// an application named by settings others may change, captured only once
// picked.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "engine/ondaline.h"
#include "models/image_schedule_config.h"
#include "models/station_path.h"
#include "sources/audio_source_capture.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "support/log_capture.h"
#include "support/own_sound_server.h"
#include "support/peer_env.h"
#include "support/private_home.h"
#include "support/process.h"
#include "support/pulse_peer.h"
#include "support/recording.h"
#include "support/tcp_peer.h"
#include "support/tone_analysis.h"
#include "ui/console/console_paint.h"
#include "ui/console/led_indicator_view.h"
#include "ui/console/vu_meter_view.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>

using namespace ondaline;
using namespace ondaline::app;

namespace {

const QString dim = ui::white(1.0, 0.4).name(QColor::HexArgb);
const QString waiting = ui::white(1.0, 0.25).name(QColor::HexArgb);
const QString waitingLook = QString::fromUtf8(" | Connecting to source… ") + ui::white(1.0, 0.25).name(QColor::HexArgb);
const std::string pid = std::to_string(::getpid());
// Other tests play pacat tones on the same peer; ours goes by a program name
// of its own, which is what the settings keep of an application.
const std::string program = "ondaline-tone-" + pid;

// Whether the live status line ends with a note on the application
// `name`, which the line may have shortened to fit: " | 'Tone…' is not
// playing — carrier on air".
bool endsWithNote(const QString& line, const QString& name, const QString& rest)
{
    const qsizetype quote = line.lastIndexOf(" | '");
    if (quote < 0 || !line.endsWith("'" + rest)) return false;
    const QString shown = line.mid(quote + 4, line.size() - quote - 4 - rest.size() - 1);
    return shown == name || (shown.endsWith(QChar(0x2026)) && name.startsWith(shown.chopped(1)));
}

bool anyLine(const test::LogCapture& log, const std::string& start)
{
    const auto lines = log.messages();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.starts_with(start); });
}

}  // namespace

class SourcesPulseTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::unique_ptr<test::OwnSoundServer> server_;
    QString toneFile_;  // 30 s of 440 Hz at peak 0.25, 48 kHz stereo float
    QProcess tone_;
    std::vector<std::unique_ptr<QProcess>> players_;  // more, each till the test's end
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
    // The tone played by `player` under `name`, as the program `binary`.
    void play(QProcess& player, const QString& name, const std::string& binary = program)
    {
        player.start("pacat", {"--playback", "--raw", "--format=float32le", "--rate=48000", "--channels=2",
                               "--property=application.name=" + name,
                               QString::fromStdString("--property=application.process.binary=" + binary), toneFile_});
    }
    QProcess& another(const QString& program, const QStringList& arguments = {})
    {
        players_.push_back(std::make_unique<QProcess>());
        if (!program.isEmpty()) players_.back()->start(program, arguments);
        return *players_.back();
    }
    // The process captured now; 0 when none.
    qint64 captured() const
    {
        const auto capture = app_->appCapture();
        const auto source = capture ? capture->currentSource() : std::nullopt;
        return source ? source->id : 0;
    }
    // The application picker of the settings drawer, opened on App Capture.
    QComboBox* openPicker()
    {
        app_->openDrawer(DrawerPage::settings);
        return app_->settingsPage().drAppPickerPopup();
    }
    static bool lists(QComboBox* picker, const QStringList& names)
    {
        return QTest::qWaitFor([&] {
            return std::all_of(names.begin(), names.end(), [&](const QString& n) { return picker->findText(n) > 0; });
        });
    }
    static void choose(QComboBox* picker, const QString& item)
    {
        picker->setCurrentIndex(picker->findText(item));
        emit picker->activated(picker->currentIndex());
    }
    QString status() const { return app_->dashboard().statusLabel()->text(); }
    // Live to the nginx peer under a key of this test's own: the key.
    QString goLive(const QString& name)
    {
        const auto rtmp = test::loadPeerEnv("rtmp");
        if (rtmp.empty()) return {};
        const QString key = name + "-" + QString::fromStdString(pid);
        app_->scheduleConfig.streamMode = "rtmp";
        app_->scheduleConfig.serverURL = rtmp.at("ONDALINE_RTMP_URL");
        app_->scheduleConfig.streamKey = key.toStdString();
        app_->scheduleConfig.audioBitrate = 128000;
        app_->toggleConnect();
        if (!QTest::qWaitFor([&] { return app_->streamer->isConnected(); }, 20000)) return {};
        app_->setConnectedUI();  // as the engine's news does in the program
        return key;
    }
    // The first channel of what has gone on air so far, from the source's
    // onset: nginx writes its recording as the stream comes.
    static std::vector<float> onAirSoFar(const QString& key)
    {
        const std::string file = test::recordingOf(test::loadPeerEnv("rtmp").at("ONDALINE_RTMP_RECORD_DIR"),
                                                   key.toStdString());
        return file.empty() ? std::vector<float>() : test::fromOnset(test::decodeFirstChannel(file));
    }
    // Waits until a tone of `hz` at the players' level has gone on air.
    static bool comesOnAir(const QString& key, double hz)
    {
        QElapsedTimer waited;
        waited.start();
        while (test::whereHeard(onAirSoFar(key), 48000, hz, 20 * std::log10(0.25) - 2).empty()) {
            if (waited.elapsed() > 20000) return false;
            QTest::qWait(200);
        }
        return true;
    }
    // Stopped; the first channel of what went on air, from the source's onset.
    std::vector<float> stopAndListen(const QString& key)
    {
        app_->toggleConnect();
        QTest::qWait(500);  // nginx closes the recording
        return onAirSoFar(key);
    }

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home_.path());
        StationPath::save((home_.path() + "/station").toStdString());
        server_ = std::make_unique<test::OwnSoundServer>();
        QVERIFY2(server_->ok(), server_->output().c_str());
        test::useSoundServer(server_->environment());
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
        play(tone_, "Tone Maker");
        app_ = std::make_unique<TestAppDelegate>(main_);
        app_->tcpServer = sources::TCPAudioServer::create(main_, test::closedPort());
        app_->buildDashboard();
        app_->scheduleConfig.audioSource = "appcapture";  // the idle look's source
        app_->scheduleConfig.appCaptureBundleID = program;
        app_->scheduleConfig.appCaptureName = "Tone Maker";
        QTRY_VERIFY(playing(program));
    }
    void cleanup()
    {
        app_.reset();
        tone_.kill();
        tone_.waitForFinished();
        for (const auto& player : players_) {
            player->kill();
            player->waitForFinished();
        }
        players_.clear();
        QCOMPARE(capturesRunning(), 0);
    }

    // The capture follows the program: when it ends the dashboard says so,
    // idle and live, and when it plays again it is captured again.
    void theSavedProgramIsFollowedWhileItPlays()
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
        const QString notPlaying = QString::fromUtf8("App Capture: 'Tone Maker' is not playing — waiting for it");
        QTRY_COMPARE(look(), " | " + notPlaying + " " + waiting);
        QVERIFY(log.contains("AppCapture error: the application stopped playing") &&
                !anyLine(log, "AppCapture start error"));
        // No more sound: the needles rest, they do not hold the last reading.
        QTRY_VERIFY_WITH_TIMEOUT(app_->dashboard().vuMeterView()->targetLevelL() < -100 &&
                                     app_->dashboard().vuMeterView()->targetLevelR() < -100,
                                 2000);
        // Live, the stream's line says so beside its figures.
        app_->setConnectedUI();
        QTRY_VERIFY2(endsWithNote(status(), "Tone Maker", QString::fromUtf8(" is not playing — carrier on air")),
                     qPrintable(status()));
        app_->setDisconnectedUI();
        QCOMPARE(look(), " | " + notPlaying + " " + waiting);

        // Played again a while later, by a new process: captured again.
        QTest::qWait(1500);
        play(tone_, "Tone Maker");
        QTRY_COMPARE(look(), "lit | Connected to Tone Maker " + dim);
        QTRY_VERIFY(std::abs(app_->dashboard().vuMeterView()->targetLevelL() - expected) < 1.0);
        QVERIFY(log.contains("AppCapture: 'Tone Maker' plays again — captured"));
        QCOMPARE(captured(), tone_.processId());
        QVERIFY(app_->activeAudioSource() == AudioSourceKind::appCapture);
    }

    // The application paused while live (its stream corked, the process and
    // the stream kept), as a player's pause button does: the status line
    // says it is not playing, the carrier goes on air rather than silence,
    // and its sound is back as soon as it plays again.
    void aPausedApplicationIsNotPlayingAndTheCarrierGoesOnAir()
    {
        test::PausingPlayer player("Pauser", program, 660);
        QVERIFY(player.ready());
        app_->scheduleConfig.appCaptureName = "Pauser";
        app_->activateAppCaptureMode();
        QTRY_COMPARE(look(), "lit | Connected to Pauser " + dim);
        const QString key = goLive("app-pause");
        QVERIFY2(!key.isEmpty(), qPrintable(status()));
        // A second of its sound on air before the pause, counted from when
        // it is heard there: the server plays a listed stream a moment late,
        // and a busy engine sends its first sound a while after it is live.
        QVERIFY2(comesOnAir(key, 660), "the player never went on air");
        QTest::qWait(1000);

        QVERIFY(player.pause());
        QElapsedTimer paused;
        paused.start();
        const QString told = QString::fromUtf8(" is not playing — carrier on air");
        QTRY_VERIFY2_WITH_TIMEOUT(endsWithNote(status(), "Pauser", told), qPrintable(status()), 3000);
        QTest::qWait(static_cast<int>(4000 - paused.elapsed()));
        QVERIFY(player.play());
        // The meter shows what the engine is given.
        const double expected = 20 * std::log10(0.25 / std::numbers::sqrt2) + 18;
        QTRY_VERIFY2_WITH_TIMEOUT(std::abs(app_->dashboard().vuMeterView()->targetLevelL() - expected) < 1.0,
                                  qPrintable(QString::number(app_->dashboard().vuMeterView()->targetLevelL())), 2000);
        QVERIFY2(!status().contains("not playing"), qPrintable(status()));
        QTest::qWait(2000);
        const std::vector<float> onAir = stopAndListen(key);

        const double rate = 48000;
        QVERIFY2(onAir.size() > rate * 6, qPrintable(QString::number(double(onAir.size()) / rate)));
        std::size_t silent = 0, longest = 0, faint = 0;
        for (const float sample : onAir) {
            silent = std::abs(sample) < 1e-4f ? silent + 1 : 0;
            longest = std::max(longest, silent);
            faint += std::abs(sample) > 5e-4f && std::abs(sample) < 2e-3f;
        }
        // The carrier comes after a second without sound, which the engine
        // fills with silence: no longer than that.
        QVERIFY2(double(longest) / rate < 1.5, qPrintable(QString("%1 s of silence on air").arg(longest / rate)));
        QVERIFY2(double(faint) / rate > 1.0, "no carrier on air");
        const std::vector<float> end(onAir.end() - long(rate * 2), onAir.end() - long(rate / 2));
        QVERIFY(std::abs(test::medianPitch(end, rate, 0) - 660) < 1.5);
    }

    // Settings the station's group may write name an application of the
    // operator's own session: at start it is only offered, told on the
    // status line and marked in the picker, and nothing of it goes on air;
    // picked, it is captured, and the live line names it. Once picked it is
    // followed as any other, also when the source comes back to it.
    void anApplicationNamedInAMembersSettingsIsCapturedOncePicked()
    {
        const QString station = home_.path() + "/member-station";
        auto ownStation = qScopeGuard([&] { StationPath::save((home_.path() + "/station").toStdString()); });
        StationPath::save(station.toStdString());
        QVERIFY(QDir().mkpath(station + "/Misc/System/Streamer"));
        const std::string file = ImageScheduleConfig::configFile();
        std::ofstream(file) << "{\"audioSource\": \"appcapture\", \"appCaptureBundleID\": \"" << program
                            << "\", \"appCaptureName\": \"Tone Maker\"}";
        QCOMPARE(::chmod(file.c_str(), 0664), 0);
        app_ = std::make_unique<TestAppDelegate>(main_);
        app_->tcpServer = sources::TCPAudioServer::create(main_, test::closedPort());
        app_->buildDashboard();
        test::LogCapture log;
        app_->activateAudioSource(audioSourceNamed(app_->scheduleConfig.audioSource));  // as at start

        const QString offered =
            QString::fromUtf8("App Capture: 'Tone Maker' from settings others may change — pick to capture");
        QCOMPARE(look(), " | " + offered + " " + waiting);
        QVERIFY(log.contains("AppCapture: 'Tone Maker' from settings others may change — pick to capture"));
        const QString key = goLive("app-offered");
        QVERIFY2(!key.isEmpty(), qPrintable(status()));
        QTRY_VERIFY2(endsWithNote(status(), "Tone Maker", QString::fromUtf8(" waits for a pick — carrier on air")),
                     qPrintable(status()));
        QComboBox* picker = openPicker();
        const QString marked = QString::fromUtf8("Tone Maker — pick to capture");
        QVERIFY(lists(picker, {marked}));
        QCOMPARE(picker->currentText(), marked);
        QTest::qWait(2000);
        QCOMPARE(captured(), 0);
        QCOMPARE(capturesRunning(), 0);

        choose(picker, marked);
        QTRY_COMPARE(captured(), tone_.processId());
        QTRY_VERIFY2(status().endsWith(" | Capturing 'Tone Maker'"), qPrintable(status()));
        QCOMPARE(picker->currentText(), QString("Tone Maker"));
        QTest::qWait(1500);
        app_->toggleConnect();
        QTest::qWait(500);  // nginx closes the recording
        const std::string recording = test::recordingOf(test::loadPeerEnv("rtmp").at("ONDALINE_RTMP_RECORD_DIR"),
                                                        key.toStdString());
        QVERIFY(!recording.empty());
        const std::vector<float> onAir = test::decodeFirstChannel(recording);
        const std::vector<float> picked = test::fromOnset(onAir);
        const double rate = 48000, before = double(onAir.size() - picked.size()) / rate;
        QVERIFY2(before > 1.5, qPrintable(QString("the tone came %1 s after the start").arg(before)));
        QVERIFY2(std::abs(test::medianPitch(picked, rate, 0.2) - 440) < 1.5, qPrintable(QString::number(before)));

        app_->setDisconnectedUI();
        QCOMPARE(look(), "lit | Connected to Tone Maker " + dim);
        app_->activateAudioSource(AudioSourceKind::tcp);
        app_->activateAudioSource(AudioSourceKind::appCapture);
        QTRY_COMPARE(look(), "lit | Connected to Tone Maker " + dim);
    }

    // Everyday application names on the live line: its state and figures
    // stay whole and what is captured still shows, the name shortened so
    // that the line fits; nothing is cut at its edges.
    void aLongNameIsShortenedAndTheLiveLineReadsWhole()
    {
        const QString vlc = "VLC media player (LibVLC 3.0.24)";
        play(another({}), vlc);
        app_->scheduleConfig.appCaptureName = vlc.toStdString();
        app_->activateAppCaptureMode();
        QTRY_COMPARE(look(), "lit | Connected to " + vlc + " " + dim);
        app_->setConnectedUI();
        QTRY_VERIFY2(status().contains("| Capturing 'VLC"), qPrintable(status()));
        const QLabel& line = *app_->dashboard().statusLabel();
        QVERIFY2(status().startsWith("Connected to stream | ") && status().endsWith(QString::fromUtf8("…'")),
                 qPrintable(status()));
        QVERIFY2(QFontMetrics(line.font()).horizontalAdvance(status()) <= line.contentsRect().width(),
                 qPrintable(status()));
        app_->setDisconnectedUI();
    }

    // A name with direction controls would turn the text around it: in the
    // picker, on the status line and in the log they are shown as marks.
    void directionControlsInANameAreShownAsMarks()
    {
        const QString turned = QString::fromUtf8("Radio \u202E(Ward 7) live end\u202C");
        const QString shown = QString::fromUtf8("Radio \uFFFD(Ward 7) live end\uFFFD");
        test::LogCapture log;
        play(another({}), turned);
        QComboBox* picker = openPicker();
        QVERIFY(lists(picker, {shown}));
        choose(picker, shown);
        QTRY_COMPARE(look(), "lit | Connected to " + shown + " " + dim);
        app_->setConnectedUI();
        QTRY_VERIFY2(status().endsWith("Capturing '" + shown + "'"), qPrintable(status()));
        for (int k = 0; k < picker->count(); ++k)
            QVERIFY2(!picker->itemText(k).contains(QChar(0x202E)) && !picker->itemText(k).contains(QChar(0x202C)),
                     qPrintable(picker->itemText(k)));
        QVERIFY(log.contains("AudioSourceCapture: ✅ Capture started for '" + shown.toStdString() + "'"));
        for (const std::string& line : log.messages())
            QVERIFY2(line.find("\u202E") == std::string::npos && line.find("\u202C") == std::string::npos, line.data());
        app_->setDisconnectedUI();
    }

    // After a restart (no process known), two of that binary and name of
    // which one is paused: the one playing is captured.
    void aPausedNamesakeDoesNotCountAfterARestart()
    {
        test::PausingPlayer paused("Dup", program, 660, true), playing("Dup", program, 880);
        QVERIFY(paused.ready() && playing.ready());
        app_->scheduleConfig.appCaptureName = "Dup";
        app_->activateAppCaptureMode();
        QTRY_COMPARE(look(), "lit | Connected to Dup " + dim);
        QCOMPARE(captured(), qint64(playing.pid()));
    }

    // Three Down presses on the picker, its list closed, while live: only
    // the application stepped to last is captured and saved; those passed
    // over never reach the air.
    void steppingThroughThePickerCapturesOnlyTheLastOne()
    {
        test::PausingPlayer first("Ua", program, 1500), second("Vb", program, 2200), last("Wc", program, 660);
        QVERIFY(first.ready() && second.ready() && last.ready());
        app_->activateAppCaptureMode();
        QTRY_COMPARE(look(), "lit | Connected to Tone Maker " + dim);
        const QString key = goLive("app-steps");
        QVERIFY2(!key.isEmpty(), qPrintable(status()));
        QComboBox* picker = openPicker();
        QVERIFY(lists(picker, {"Tone Maker", "Ua", "Vb", "Wc"}));
        QCOMPARE(picker->currentText(), QString("Tone Maker"));
        test::LogCapture log;
        QVERIFY2(comesOnAir(key, 440), "the application captured first never went on air");
        // At a typing pace: a passed-over application captured at its step
        // would be on air for a quarter of a second.
        for (int step = 0; step < 3; ++step) {
            QTest::keyClick(picker, Qt::Key_Down);
            QTest::qWait(250);
        }
        QTRY_COMPARE_WITH_TIMEOUT(captured(), qint64(last.pid()), 10000);
        QCOMPARE(app_->scheduleConfig.appCaptureName, std::string("Wc"));
        QVERIFY2(comesOnAir(key, 660), "the application stepped to never went on air");
        app_->toggleConnect();
        const std::vector<float> onAir = onAirSoFar(key);

        // Each tenth of a second alone, by the passed-over tones' own
        // frequencies: one captured for a moment is heard there.
        const double toneLevel = 20 * std::log10(0.25);
        QVERIFY(!test::whereHeard(onAir, 48000, 660, toneLevel - 2).empty());
        QCOMPARE(QString::fromStdString(test::whereHeard(onAir, 48000, 1500, toneLevel - 2)), QString());
        QCOMPARE(QString::fromStdString(test::whereHeard(onAir, 48000, 2200, toneLevel - 2)), QString());
        QVERIFY(!anyLine(log, "AudioSourceCapture: ✅ Capture started for 'Ua'") &&
                !anyLine(log, "AudioSourceCapture: ✅ Capture started for 'Vb'"));
    }

    // A step with the list closed, then the picker left (Tab to the next
    // field): the item stepped to is picked as the focus goes, not once the
    // settling second is over.
    void leavingThePickerAfterAStepPicksAtOnce()
    {
        test::PausingPlayer other("Ua", program, 1500);
        QVERIFY(other.ready());
        app_->activateAppCaptureMode();
        QTRY_COMPARE(look(), "lit | Connected to Tone Maker " + dim);
        QComboBox* picker = openPicker();
        QVERIFY(lists(picker, {"Tone Maker", "Ua"}));
        QCOMPARE(picker->currentText(), QString("Tone Maker"));
        picker->window()->show();
        QVERIFY(QTest::qWaitForWindowActive(picker->window()));
        picker->setFocus();
        QTRY_VERIFY(picker->hasFocus());
        QTest::keyClick(picker, Qt::Key_Down);
        QCOMPARE(picker->currentText(), QString("Ua"));
        QCOMPARE(app_->scheduleConfig.appCaptureName, std::string("Tone Maker"));  // settling
        QElapsedTimer stepped;
        stepped.start();
        QTest::keyClick(picker, Qt::Key_Tab);
        QVERIFY(!picker->hasFocus());
        // What the focus's going set off, and nothing that waits for the
        // settling: half of it at most.
        while (app_->scheduleConfig.appCaptureName != "Ua" &&
               stepped.elapsed() < SettingsPage::pickerSettle.count() / 2)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCOMPARE(app_->scheduleConfig.appCaptureName, std::string("Ua"));
        QTRY_COMPARE(captured(), qint64(other.pid()));
    }

    // Alpha, Mike and Zed of one binary: Mike saved is Mike captured, and
    // each pick in the drawer is that very process.
    void theApplicationOfThatNameIsCapturedAndAPickIsThatProcess()
    {
        for (const QString name : {"Alpha", "Mike", "Zed"}) play(another({}), name);
        app_->scheduleConfig.appCaptureName = "Mike";
        app_->activateAppCaptureMode();
        QTRY_COMPARE(look(), "lit | Connected to Mike " + dim);
        QCOMPARE(captured(), players_[1]->processId());

        QComboBox* picker = openPicker();
        QVERIFY(lists(picker, {"Alpha", "Mike", "Zed", "Tone Maker"}));
        QCOMPARE(picker->currentText(), QString("Mike"));  // the saved one, highlighted
        choose(picker, "Zed");
        QTRY_COMPARE(look(), "lit | Connected to Zed " + dim);
        QCOMPARE(captured(), players_[2]->processId());
        QVERIFY(app_->scheduleConfig.appCaptureName == "Zed" && app_->scheduleConfig.appCaptureBundleID == program);
        QTest::qWait(300);
        QCOMPARE(capturesRunning(), 1);
    }

    // PipeWire's own players: two of one name are two items, and the one
    // picked is the one captured, alone (the two mixed would be 3 dB up).
    void twoPlayersOfOneNameAreTwoItems()
    {
        if (test::soundPeer() != "pipewire") QSKIP("pw-play is a client of PipeWire's own");
        for (const int hz : {750, 1250}) {
            const std::string wav = (home_.path() + QString("/%1.wav").arg(hz)).toStdString();
            test::writeToneWAV(wav, 48000, hz, 60);
            QVERIFY(another("pw-play", {QString::fromStdString(wav)}).waitForStarted());
        }
        const auto item = [](const QProcess* p) { return QString("pw-play (process %1)").arg(p->processId()); };
        QComboBox* picker = openPicker();
        QVERIFY(lists(picker, {item(players_[0].get()), item(players_[1].get())}));
        choose(picker, item(players_[1].get()));
        QTRY_COMPARE(look(), "lit | Connected to pw-play " + dim);
        QCOMPARE(captured(), players_[1]->processId());
        // ffmpeg's sine in stereo is -24 dBFS RMS a side: -6 on the meter.
        QTRY_VERIFY(std::abs(app_->dashboard().vuMeterView()->targetLevelL() + 6.1) < 1.0);
        QCOMPARE(capturesRunning(), 1);
    }

    // The picker follows the applications while the drawer is open: one
    // that starts can be picked, one that ends goes.
    void thePickerFollowsTheApplications()
    {
        tone_.kill();
        QComboBox* picker = openPicker();
        QTRY_COMPARE(picker->itemText(0), QString::fromUtf8("⚠ No application is playing sound"));
        QProcess& late = another({});
        play(late, "Late Comer");
        QVERIFY(lists(picker, {"Late Comer"}));
        choose(picker, "Late Comer");
        QTRY_COMPARE(look(), "lit | Connected to Late Comer " + dim);
        late.kill();
        QTRY_COMPARE(picker->itemText(0), QString::fromUtf8("⚠ No application is playing sound"));
        QVERIFY(picker->findText("Late Comer") < 0);
    }

    // Connected only once sound has come: not when the start returns with
    // the device suspended, nor in the idle look after a stream.
    void connectedOnlyOnceSoundComes()
    {
        if (test::soundPeer() != "pulse") QSKIP("a suspended device is PulseAudio's");
        const std::string sink = server_->environment().at("ONDALINE_PULSE_SINK");
        QCOMPARE(test::runCommand("pactl suspend-sink " + sink + " 1").exitCode, 0);
        // Resumed whatever comes: the tests after this one play on it.
        auto resume = qScopeGuard([&] { test::runCommand("pactl suspend-sink " + sink + " 0"); });
        app_->activateAppCaptureMode();
        QTRY_VERIFY(app_->appCapture()->isCapturing());
        QTest::qWait(500);
        QCOMPARE(look(), waitingLook);
        app_->setConnectedUI();
        app_->setDisconnectedUI();
        QCOMPARE(look(), waitingLook);
        resume.dismiss();
        QCOMPARE(test::runCommand("pactl suspend-sink " + sink + " 0").exitCode, 0);
        QTRY_COMPARE(look(), "lit | Connected to Tone Maker " + dim);
    }

    void aStartThatFindsNothingOrFailsIsTold()
    {
        test::LogCapture log;
        app_->scheduleConfig.appCaptureBundleID = "ondaline-no-such-program";
        app_->activateAppCaptureMode();
        const QString notPlaying = QString::fromUtf8("App Capture: 'Tone Maker' is not playing — waiting for it");
        QTRY_COMPARE(look(), " | " + notPlaying + " " + waiting);
        QVERIFY(!app_->appCapture()->isCapturing() &&
                log.contains("AppCapture: 'Tone Maker' is not playing — waiting for it"));

        // This program's own sound is offered, but never captured.
        app_->player->setup();
        const std::string self = QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
        QTRY_VERIFY(playing(self));
        app_->scheduleConfig.appCaptureBundleID = self;
        app_->scheduleConfig.appCaptureName.clear();
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
