// The player's output device on the PulseAudio peer: the saved device, one
// that is gone, devices coming and going under the popup, no sound server.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "models/station_path.h"
#include "platform/audio/audio_output.h"
#include "sources/test_player.h"
#include "support/log_capture.h"
#include "support/peer_env.h"
#include "support/private_home.h"
#include "support/process.h"
#include "support/tone_analysis.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace ondaline;
using namespace ondaline::app;
using test::runCommand;

namespace {

const std::string tag = std::to_string(::getpid());  // other tests share the peer

// A null sink, described by its name, while it lives.
struct Sink {
    explicit Sink(const std::string& base)
        : name(base + "_" + tag), module(runCommand("pactl load-module module-null-sink sink_name=" + name +
                                                    " sink_properties=device.description=" + name)
                                             .output)
    {
    }
    ~Sink() { runCommand("pactl unload-module " + module); }
    const std::string name, module;
};

}  // namespace

class OutputDeviceTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::string server_, defaultSink_;
    std::shared_ptr<QtMainExecutor> main_;
    std::unique_ptr<TestAppDelegate> app_;

    // As the server reports it.
    std::string playsOn() const { return app_->player->engine().deviceUID(); }
    static std::string saved() { return ImageScheduleConfig::load().audioOutputDeviceUID; }

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home_.path());
        StationPath::save((home_.path() + "/station").toStdString());
        const auto peer = test::loadPeerEnv(test::soundPeer());
        QVERIFY2(!peer.empty(), "the pulse peer is not running");
        server_ = peer.at("PULSE_SERVER");
        defaultSink_ = peer.at("ONDALINE_PULSE_SINK");
        main_ = std::make_shared<QtMainExecutor>();
    }
    void init()
    {
        qputenv("PULSE_SERVER", QByteArray::fromStdString(server_));
        app_ = std::make_unique<TestAppDelegate>(main_);
    }
    void cleanup() { app_.reset(); }

    void savedDeviceGetsThePlayersStream()
    {
        Sink first("ondaline_first"), second("ondaline_second");
        test::LogCapture log;
        app_->applyAudioOutputDevice(first.name);  // before the player starts, as with another source
        app_->player->setup();
        QTRY_COMPARE(playsOn(), first.name);
        QVERIFY(log.contains("Ondaline: Audio output → " + first.name));
        app_->applyAudioOutputDevice(second.name);
        QTRY_COMPARE(playsOn(), second.name);
        app_->applyAudioOutputDevice("");
        QTRY_COMPARE(playsOn(), defaultSink_);
        QVERIFY(log.contains("Ondaline: Audio output → System Default"));
    }

    void absentDeviceFallsBackAndIsForgotten()
    {
        const std::string gone = "ondaline_gone_" + tag;
        app_->scheduleConfig.audioOutputDeviceUID = gone;
        app_->scheduleConfig.save();
        test::LogCapture log;
        app_->applyAudioOutputDevice(gone);
        const auto lines = log.messages();
        const auto notFound = std::find(lines.begin(), lines.end(),
                                        "Ondaline: Saved output device not found (uid=" + gone +
                                            "), using system default");
        QVERIFY(notFound != lines.end() && notFound + 1 != lines.end());
        QCOMPARE(notFound[1], std::string("Ondaline: Audio output → System Default"));
        QCOMPARE(saved(), std::string());
    }

    void popupFollowsTheDevicesAndTheChoice()
    {
        const std::unique_ptr<QWidget> page(app_->buildSettingsDrawerContent());
        QComboBox* popup = app_->settingsPage().drAudioOutputPopup();
        // Wired as a page may wire it: a refresh must not count as a choice.
        connect(popup, &QComboBox::currentIndexChanged, app_.get(), &TestAppDelegate::drAudioOutputChanged);
        app_->installAudioDeviceChangeListener();
        app_->player->setup();
        test::LogCapture log;
        auto added = std::make_unique<Sink>("ondaline_added");
        const auto name = QString::fromStdString(added->name);
        app_->scheduleConfig.audioOutputDeviceUID = added->name;
        QTRY_VERIFY(popup->findText(name) > 0);
        const auto lines = log.messages();
        QVERIFY(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.starts_with("Ondaline: Audio devices changed — Ondaline_Null, ") && line.ends_with(added->name);
        }));
        QCOMPARE(popup->itemText(0), "System Default");
        QCOMPARE(popup->currentText(), name);

        popup->setCurrentIndex(0);  // the user's choices
        QCOMPARE(saved(), std::string());
        QTRY_COMPARE(playsOn(), defaultSink_);
        popup->setCurrentIndex(popup->findText(name));
        QCOMPARE(saved(), added->name);
        QTRY_COMPARE(playsOn(), added->name);

        added.reset();
        QTRY_VERIFY(popup->findText(name) < 0);
        QCOMPARE(popup->currentIndex(), 0);
        QCOMPARE(saved(), name.toStdString());  // kept for when it is back
    }

    // The sound server restarted under the program (a crash, an upgrade),
    // on a server of this test's own: the player is heard again, the list
    // follows the devices again, and the chosen device, once back, gets the
    // sound again.
    void soundServerRestartIsRiddenOut()
    {
        QTemporaryDir peerDir;
        const std::string script = std::string(ONDALINE_SOURCE_DIR) + "/scripts/peers/" + test::soundPeer() + " ";
        const std::string folder = test::shellQuote(peerDir.path().toStdString());
        QCOMPARE(runCommand(script + "start " + folder).exitCode, 0);
        const auto stopPeer = qScopeGuard([&] { runCommand(script + "stop " + folder); });
        qputenv("PULSE_SERVER",
                QByteArray::fromStdString(
                    test::loadPeerEnvFrom(peerDir.path().toStdString(), test::soundPeer()).at("PULSE_SERVER")));
        const std::string chosen = "ondaline_chosen_" + tag;
        const auto addSink = [](const std::string& name) {
            return runCommand("pactl load-module module-null-sink sink_name=" + name +
                              " sink_properties=device.description=" + name)
                       .exitCode == 0;
        };
        QVERIFY(addSink(chosen));
        QVERIFY(QDir().mkpath(home_.path() + "/station/Music"));
        test::writeToneFLAC((home_.path() + "/station/Music/tone.flac").toStdString(), 44100, 2, 440, 60);
        app_->scheduleConfig.audioSource = "local";
        app_->scheduleConfig.audioOutputDeviceUID = chosen;
        app_->applicationDidFinishLaunching();
        const std::unique_ptr<QWidget> page(app_->buildSettingsDrawerContent());
        QTRY_COMPARE(playsOn(), chosen);

        test::LogCapture log;
        QCOMPARE(runCommand(script + "restart " + folder).exitCode, 0);
        QTRY_VERIFY(log.contains("Ondaline: ⚠ Sound server went away"));
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Ondaline: Local player heard again") &&
                                     log.contains("Ondaline: Sound server is back"),
                                 15000);
        QCOMPARE(app_->dashboard().statusLabel()->text(), "Connected to Local Player");

        const std::string later = "ondaline_later_" + tag;
        QVERIFY(addSink(later));
        QComboBox* popup = app_->settingsPage().drAudioOutputPopup();
        QTRY_VERIFY(popup->findText(QString::fromStdString(later)) > 0);
        QVERIFY(addSink(chosen));
        QTRY_COMPARE(playsOn(), chosen);
        // What the chosen device plays, past the recorder's own start.
        const std::string recording = test::shellQuote(home_.filePath("heard.raw").toStdString());
        runCommand("timeout 2 parec --latency-msec=50 --raw --format=float32le --channels=1 --rate=44100 -d " + chosen +
                   ".monitor > " + recording);
        QFile file(home_.filePath("heard.raw"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        std::vector<float> samples(static_cast<std::size_t>(bytes.size()) / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        QVERIFY2(samples.size() > 44100 / 2, qPrintable(QString::number(samples.size())));
        const auto tone = test::analyseTone({samples.end() - 44100 / 2, samples.end()}, 44100, 0.1);
        QVERIFY2(std::abs(tone.hz - 440) < 2 && tone.peakDBFS > -40,
                 qPrintable(QString("%1 Hz at %2 dBFS").arg(tone.hz).arg(tone.peakDBFS)));
    }

    void noSoundServerForgetsNothing()
    {
        qputenv("PULSE_SERVER", "unix:/nonexistent/ondaline/pulse/native");
        app_->scheduleConfig.audioOutputDeviceUID = "ondaline_elsewhere";
        app_->scheduleConfig.save();
        test::LogCapture log;
        app_->applyAudioOutputDevice("ondaline_elsewhere");
        // Playing to the null output: the server being back changes nothing.
        app_->player->setup();
        qputenv("PULSE_SERVER", QByteArray::fromStdString(server_));
        app_->applyAudioOutputDevice("ondaline_elsewhere");
        const auto lines = log.messages();
        QCOMPARE(std::count(lines.begin(), lines.end(), "Ondaline: Cannot access output audio unit"),
                 std::ptrdiff_t(2));
        QCOMPARE(saved(), std::string("ondaline_elsewhere"));
    }
};

QTEST_MAIN(OutputDeviceTest)
#include "output_device_test.moc"
