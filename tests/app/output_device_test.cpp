// The player's output device on the sound peer, and on servers of the
// tests' own: the saved device, one that is gone, devices coming and going
// under the popup, a server that restarts or comes after the program, no
// sound server.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "models/station_path.h"
#include "platform/audio/audio_output.h"
#include "sources/test_player.h"
#include "support/log_capture.h"
#include "support/own_sound_server.h"
#include "support/peer_env.h"
#include "support/private_home.h"
#include "support/process.h"
#include "support/tone_analysis.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

using namespace ondaline;
using namespace ondaline::app;
using test::runCommand;

namespace {

const std::string tag = std::to_string(::getpid());  // other tests share the peer

// A null sink while it lives, described by its name or `description`.
struct Sink {
    explicit Sink(const std::string& base, const std::string& description = {})
        : name(base + "_" + tag),
          module(runCommand("pactl load-module module-null-sink sink_name=" + name +
                            " sink_properties=device.description=" + (description.empty() ? name : description))
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
    QString status() const { return app_->dashboard().statusLabel()->text(); }

    // The program started on the local player with `chosen` saved.
    void launch(const std::string& chosen)
    {
        const QString music = home_.path() + "/station/Music";
        if (!QFile::exists(music + "/tone.flac")) {
            QDir().mkpath(music);
            test::writeToneFLAC((music + "/tone.flac").toStdString(), 44100, 2, 440, 60);
        }
        app_->scheduleConfig.audioSource = "local";
        app_->scheduleConfig.audioOutputDeviceUID = chosen;
        app_->scheduleConfig.save();
        app_->applicationDidFinishLaunching();
    }
    // The tone the player plays, as `sink` plays it: its pitch and level over
    // the last of two seconds recorded from its monitor, the median of short
    // stretches, which a recorder glitching under load spoils one at a time.
    static test::Tone toneOn(const std::string& sink)
    {
        QProcess recorder;
        recorder.start("parec", {"--latency-msec=50", "--raw", "--format=float32le", "--channels=1", "--rate=44100",
                                 "-d", QString::fromStdString(sink + ".monitor")});
        QByteArray bytes;
        (void)QTest::qWaitFor(
            [&] {
                bytes += recorder.readAllStandardOutput();
                return bytes.size() >= qsizetype(2 * 44100 * sizeof(float));
            },
            10000);
        recorder.kill();
        recorder.waitForFinished();
        std::vector<float> samples(static_cast<std::size_t>(bytes.size()) / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        if (samples.size() < 2 * 44100) return {};
        std::vector<test::Tone> stretches;
        for (auto from = samples.end() - 44100; from + 44100 / 5 <= samples.end(); from += 44100 / 5)
            stretches.push_back(test::analyseTone({from, from + 44100 / 5}, 44100, 0));
        std::nth_element(stretches.begin(), stretches.begin() + 2, stretches.end(),
                         [](const test::Tone& a, const test::Tone& b) { return a.hz < b.hz; });
        return stretches[2];
    }
    // Whether `sink` plays the player's 440 Hz tone within ten seconds.
    static bool hearsTheTone(const std::string& sink, test::Tone* heard = nullptr)
    {
        test::Tone tone;
        const bool heardIt = QTest::qWaitFor(
            [&] {
                tone = toneOn(sink);
                return std::abs(tone.hz - 440) < 2 && tone.peakDBFS > -40;
            },
            10000);
        if (heard) *heard = tone;
        return heardIt;
    }

    // The settings drawer opened and closed again, as a station looking why
    // its output went quiet does; what the popup showed.
    QString openAndCloseTheDrawer()
    {
        app_->openDrawer(DrawerPage::settings);
        const QString shown = app_->settingsPage().drAudioOutputPopup()->currentText();
        if (!QTest::qWaitFor([&] { return !app_->drawer().slide(); }, 5000)) return "the drawer did not open";
        app_->closeDrawer();
        if (!QTest::qWaitFor([&] { return !app_->isDrawerOpen() && !app_->drawer().slide(); }, 5000))
            return "the drawer did not close";
        return shown;
    }

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

    void absentDeviceFallsBackAndIsKept()
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
        QCOMPARE(saved(), gone);  // only the user's choice changes it
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
        QCOMPARE(popup->currentText(), name + " (not connected)");  // kept for when it is back
        QCOMPARE(saved(), name.toStdString());
    }

    // The chosen device unplugged, the drawer opened and closed to see why
    // the studio went quiet, and the device plugged in again, three times:
    // it stays chosen, by the name it had, and each time the player's tone
    // is heard on it again. On PipeWire the device is one of its own (a USB
    // headset's node), not a sink pipewire-pulse made.
    void missingChosenDeviceStaysChosen()
    {
        const auto peer = test::loadPeerEnv(test::soundPeer());
        const std::string chosen = "ondaline_kept_" + tag;
        std::string module;
        std::function<void()> plug = [&] {
            module = runCommand("pactl load-module module-null-sink sink_name=" + chosen +
                                " sink_properties=device.description=Studio_Phones")
                         .output;
        };
        std::function<void()> unplug = [&] { runCommand("pactl unload-module " + module); };
        if (peer.contains("PIPEWIRE_RUNTIME_DIR")) {
            const std::string pw = "PIPEWIRE_RUNTIME_DIR=" + peer.at("PIPEWIRE_RUNTIME_DIR") + " pw-cli ";
            plug = [=] {
                runCommand(pw + "create-node adapter '{ factory.name=support.null-audio-sink node.name=" + chosen +
                           " node.description=Studio_Phones media.class=Audio/Sink object.linger=true "
                           "audio.position=[FL FR] }'");
            };
            unplug = [=] { runCommand(pw + "destroy " + chosen); };
        }
        plug();
        QTRY_VERIFY(runCommand("pactl list short sinks").output.find(chosen) != std::string::npos);
        launch(chosen);
        QTRY_COMPARE(playsOn(), chosen);
        test::Tone tone;
        for (int replug = 1; replug <= 3; ++replug) {
            unplug();
            QTRY_VERIFY(playsOn() != chosen);
            const QString shown = openAndCloseTheDrawer();
            QCOMPARE(saved(), chosen);
            QCOMPARE(shown, "Studio_Phones (not connected)");  // by the name it had
            plug();
            QVERIFY2(hearsTheTone(chosen, &tone), qPrintable(QString("replug %1: %2 Hz at %3 dBFS, plays on %4")
                                                                 .arg(replug)
                                                                 .arg(tone.hz)
                                                                 .arg(tone.peakDBFS)
                                                                 .arg(QString::fromStdString(playsOn()))));
        }
        // Chosen again in the drawer's popup, away and back.
        app_->openDrawer(DrawerPage::settings);
        QComboBox* popup = app_->settingsPage().drAudioOutputPopup();
        QCOMPARE(popup->currentText(), "Studio_Phones");
        for (const QString& item : {QString("System Default"), QString("Studio_Phones")}) {
            popup->setCurrentIndex(popup->findText(item));
            emit popup->activated(popup->currentIndex());
        }
        QVERIFY2(hearsTheTone(chosen, &tone), qPrintable(QString("chosen: %1 Hz at %2 dBFS, plays on %3")
                                                             .arg(tone.hz)
                                                             .arg(tone.peakDBFS)
                                                             .arg(QString::fromStdString(playsOn()))));
        app_->closeDrawer();
        unplug();
    }

    // The sound server gone under the program (a crash, an upgrade) and
    // started again, on a server of this test's own with the chosen device:
    // meanwhile the drawer keeps the device chosen and the status line says
    // the player is not heard, live too; once the server is back the player
    // is heard again on the chosen device, and the list follows the devices
    // again.
    void soundServerRestartIsRiddenOut()
    {
        const std::string chosen = "ondaline_chosen_" + tag;
        test::OwnSoundServer server({chosen});
        QVERIFY2(server.ok(), server.output().c_str());
        qputenv("PULSE_SERVER", QByteArray::fromStdString(server.address()));
        launch(chosen);
        QTRY_COMPARE(playsOn(), chosen);

        test::LogCapture log;
        QVERIFY2(server.kill(), server.output().c_str());
        QTRY_VERIFY(log.contains("Ondaline: ⚠ Sound server went away"));
        QTRY_VERIFY(log.contains("Ondaline: ⚠ Local player not heard: no sound server"));
        QCOMPARE(status(), "Local Player: no sound server");
        const QString shown = openAndCloseTheDrawer();
        QCOMPARE(saved(), chosen);
        QCOMPARE(shown, QString::fromStdString(chosen + " (not connected)"));
        app_->setConnectedUI();  // live
        QVERIFY2(status().endsWith("| Local player not heard"), qPrintable(status()));

        QVERIFY2(server.restart(), server.output().c_str());
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Ondaline: Local player heard again") &&
                                     log.contains("Ondaline: Sound server is back"),
                                 15000);
        QTRY_COMPARE_WITH_TIMEOUT(playsOn(), chosen, 10000);
        QTRY_VERIFY(status().startsWith("Connected to stream | ") && !status().contains("not heard"));
        app_->setDisconnectedUI();
        QCOMPARE(status(), "Connected to Local Player");
        QCOMPARE(saved(), chosen);

        const std::string later = "ondaline_later_" + tag;
        QCOMPARE(runCommand("pactl load-module module-null-sink sink_name=" + later +
                            " sink_properties=device.description=" + later)
                     .exitCode,
                 0);
        QComboBox* popup = app_->settingsPage().drAudioOutputPopup();
        QTRY_VERIFY(popup->findText(QString::fromStdString(later)) > 0);
        test::Tone tone;
        QVERIFY2(hearsTheTone(chosen, &tone), qPrintable(QString("%1 Hz at %2 dBFS").arg(tone.hz).arg(tone.peakDBFS)));
    }

    // The program started before the sound server (a machine booting, a
    // server that is slow to come): the saved device gets the sound once the
    // server is there, whichever of the player and the device list finds it
    // first. Ten starts with the server 20 s late are a long check.
    void savedDeviceIsPlayedWhenTheServerComesLater()
    {
        const bool long_ = qEnvironmentVariableIsSet("ONDALINE_LONG_CHECKS");
        const int starts = long_ ? 10 : 1;
        const unsigned long lateMs = long_ ? 20000 : 8000;
        const std::string chosen = "ondaline_late_" + tag;
        test::OwnSoundServer server({chosen});
        QVERIFY2(server.ok(), server.output().c_str());
        qputenv("PULSE_SERVER", QByteArray::fromStdString(server.address()));
        for (int start = 1; start <= starts; ++start) {
            QVERIFY2(server.kill(), server.output().c_str());
            app_ = std::make_unique<TestAppDelegate>(main_);
            launch(chosen);
            QTest::qWait(static_cast<int>(lateMs));
            QVERIFY2(server.restart(), server.output().c_str());
            QTRY_VERIFY2_WITH_TIMEOUT(playsOn() == chosen, qPrintable(QString("start %1").arg(start)), 10000);
        }
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
        QCOMPARE(std::count(lines.begin(), lines.end(), "Ondaline: Cannot access output device: no sound server"),
                 std::ptrdiff_t(2));
        QCOMPARE(saved(), std::string("ondaline_elsewhere"));
    }
};

QTEST_MAIN(OutputDeviceTest)
#include "output_device_test.moc"
