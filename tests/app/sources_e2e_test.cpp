// The built program with each audio source, started as a user would (its
// own home and station folder, the Start button clicked on a virtual
// display), against nginx and a sound server of the test's own; and an
// application named by another member's settings, kept off the air.

#include "support/desktop_session.h"
#include "support/machine_lock.h"
#include "support/own_sound_server.h"
#include "support/pcm_sender.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/pulse_peer.h"
#include "support/recording.h"
#include "support/tone_analysis.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace ondaline::test;

namespace {

const QPoint startButton(14 + 89 + 75, 14 + 508 + 18);
const QRect meters(14 + 65, 14 + 200, 362, 86);

QString quoted(const std::string& text) { return "\"" + QString::fromStdString(text) + "\""; }

// Settings for a stream to the nginx peer under `key`, with `extra` fields.
QString rtmpSettings(const std::map<std::string, std::string>& rtmp, const QString& key, const QString& extra)
{
    return "{\"streamMode\": \"rtmp\", \"serverURL\": " + quoted(rtmp.at("ONDALINE_RTMP_URL")) + ", \"streamKey\": \"" +
           key + "\", \"audioBitrate\": 128000, " + extra + "}";
}

// The pitch of the recorded audio between `from` and `to` seconds after the
// sound starts.
double recordedPitch(const std::string& file, double from, double to, double rate = 44100)
{
    const auto music = fromOnset(decodeFirstChannel(file));
    if (music.size() < static_cast<std::size_t>(to * rate)) return 0;
    return analyseTone({music.begin() + long(from * rate), music.begin() + long(to * rate)}, rate, 0).hz;
}

// The pitch of captured sound up to `to` seconds after it starts.
double capturedPitch(const std::string& file, double to, double rate)
{
    auto music = fromOnset(decodeFirstChannel(file));
    music.resize(std::min(music.size(), static_cast<std::size_t>(to * rate)));
    return medianPitch(music, rate);
}

// The sink that the playback stream of the program whose binary is
// `binary` plays on, by name; empty when there is none.
QString sinkOfProgram(const QString& binary)
{
    const QString inputs = QString::fromStdString(runCommand("pactl list sink-inputs").output);
    QString sinkIndex;
    for (const QString& entry : inputs.split("Sink Input #")) {
        if (!entry.contains("application.process.binary = \"" + binary + "\"")) continue;
        for (const QString& line : entry.split('\n')) {
            if (line.trimmed().startsWith("Sink:")) sinkIndex = line.trimmed().mid(5).trimmed();
        }
    }
    if (sinkIndex.isEmpty()) return {};
    for (const QString& line : QString::fromStdString(runCommand("pactl list short sinks").output).split('\n')) {
        const QStringList fields = line.split('\t');
        if (fields.size() > 1 && fields[0] == sinkIndex) return fields[1];
    }
    return {};
}

// Start clicked; once the stream is live, `whileLive` runs (it waits as
// long as the stream should go on), then Stop is clicked. What the program
// printed by then; empty when the stream never went live.
QString liveRun(Desktop& desktop, const std::function<void()>& whileLive)
{
    desktop.click(startButton);
    // Live once its sound goes out: on a busy machine the encoders and the
    // first frame take a second past the server's go-ahead.
    if (!QTest::qWaitFor([&] { return desktop.output().contains("Ondaline: Audio packet #1 "); }, 20000)) return {};
    whileLive();
    desktop.click(startButton);
    QThread::msleep(500);
    return desktop.output();
}

// The longest stretch of digital silence, in samples.
std::size_t longestSilence(const std::vector<float>& samples)
{
    std::size_t longest = 0, run = 0;
    for (const float sample : samples) {
        run = std::abs(sample) < 1e-4f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// The first line of `output` with a name of another platform's frameworks
// or words: the program speaks of what it does on Linux. Empty when none.
QString otherPlatformsWords(const QString& output)
{
    for (const QString& line : output.split('\n')) {
        for (const char* word : {"VideoToolbox", "VT ", "AudioToolbox", "audio unit", "CoreAudio", "ScreenCaptureKit",
                                 "magic cookie", "bundle"})
            if (line.contains(QLatin1String(word))) return line;
    }
    return {};
}

// How many pixels of two pictures differ clearly.
int differingPixels(const QImage& a, const QImage& b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) > 60)
                ++count;
        }
    }
    return count;
}

class Session {
public:
    Session(const QString& settings, const QMap<QString, QString>& environment = {})
    {
        station_ = writeStation(home_.path(), settings);
        environment_ = environment;
    }
    const QString& station() const { return station_; }
    Desktop& start()
    {
        desktop_ = std::make_unique<Desktop>(ONDALINE_PROGRAM, home_.path(), environment_);
        return *desktop_;
    }

private:
    QTemporaryDir home_;
    QString station_;
    QMap<QString, QString> environment_;
    std::unique_ptr<Desktop> desktop_;
};

}  // namespace

class SourcesEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        rtmp_ = loadPeerEnv("rtmp");
        QVERIFY2(!rtmp_.empty(), "the rtmp peer is not running");
        server_ = std::make_unique<OwnSoundServer>();
        QVERIFY2(server_->ok(), server_->output().c_str());
        useSoundServer(server_->environment());
    }

    void tcpToneIsRecordedAtItsPitchAndMovesTheNeedles()
    {
        // Only one program on this machine can listen on the TCP input's port.
        MachineLock port(machineLockFile("tcp-input"), "the TCP input's port 9170");
        const QString key = QString("app-tcp-%1").arg(QCoreApplication::applicationPid());
        Session session(rtmpSettings(rtmp_, key, "\"audioSource\": \"tcp\""));
        Desktop& desktop = session.start();
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        const QImage quiet = desktop.shot().copy(meters);

        PCMSender sender;
        QVERIFY(sender.connect(9170));
        sender.startTone({.sampleRate = 44100, .channels = 2, .hz = 440, .dbfs = -12});
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("TCPAudioServer: Handshake OK"), 10000);
        QThread::msleep(1500);
        const QImage loud = desktop.shot().copy(meters);
        desktop.click(startButton);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: ✓ Publishing live!"), 20000);
        QThread::msleep(5000);
        desktop.click(startButton);
        sender.stop();
        QThread::msleep(2500);
        const QImage quietAgain = desktop.shot().copy(meters);
        QCOMPARE(desktop.quit(), 0);

        QVERIFY2(differingPixels(quiet, loud) > 150, "the needles did not move with the tone");
        QVERIFY2(differingPixels(quiet, quietAgain) < 40,
                 qPrintable(QString("the needles did not fall back with the silence: %1")
                                .arg(differingPixels(quiet, quietAgain))));
        const std::string file = recordingOf(rtmp_.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
        QVERIFY(!file.empty());
        const double pitch = recordedPitch(file, 0.5, 3.5);
        QVERIFY2(std::abs(pitch - 440) < 1.0, qPrintable(QString::number(pitch)));
    }

    void playlistTracksAreRecordedAtTheirPitchOnTheSavedSink()
    {
        const QString sinkName = QString("ondaline_e2e_out_%1").arg(QCoreApplication::applicationPid());
        NullSink sink(sinkName.toStdString());
        const QString key = QString("app-playlist-%1").arg(QCoreApplication::applicationPid());
        Session session(rtmpSettings(rtmp_, key,
                                     "\"audioSource\": \"local\", \"audioOutputDeviceUID\": \"" + sinkName + "\""));
        writeToneFLAC((session.station() + "/Music/a.flac").toStdString(), 44100, 2, 440, 2.5);
        writeToneFLAC((session.station() + "/Music/b.flac").toStdString(), 48000, 1, 660, 2.5);
        Desktop& desktop = session.start();
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: Audio output → "), 10000);
        QVERIFY2(!desktop.output().contains("Ondaline: Audio output → System Default"), qPrintable(desktop.output()));
        // The player's stream plays on the saved sink.
        QTRY_VERIFY_WITH_TIMEOUT(sinkOfProgram("ondaline") == sinkName, 10000);
        // A sink that appears is noticed.
        {
            NullSink another((sinkName + "_b").toStdString());
            QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Ondaline: Audio devices changed — "), 10000);
        }
        const QString output = liveRun(desktop, [] { QThread::msleep(9000); });
        QVERIFY2(!output.isEmpty(), qPrintable(desktop.describe()));
        QCOMPARE(desktop.quit(), 0);

        const std::string file = recordingOf(rtmp_.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
        QVERIFY(!file.empty());
        // The stream joins the playlist wherever it is: each track's pitch
        // holds over several short stretches of the recording. Where one
        // pass ends and the next begins a track may play twice in a row, so
        // the stretches span three tracks' time.
        int at440 = 0, at660 = 0;
        QString measured;
        for (double from = 0.2; from + 0.4 < 8.5; from += 0.2) {
            const double hz = recordedPitch(file, from, from + 0.4);
            measured += QString::number(hz) + " ";
            at440 += std::abs(hz - 440) < 1.5;
            at660 += std::abs(hz - 660) < 1.5;
        }
        QVERIFY2(at440 >= 3 && at660 >= 3, qPrintable(measured + "\n" + output));
    }

    // The sound server restarted while the local player is on air, on a
    // server of the test's own: what goes on air never waits for the
    // station's own output, so no stretch of silence is sent around the
    // server's return.
    void playerOnAirRidesOutASoundServerRestart()
    {
        OwnSoundServer server;
        QVERIFY2(server.ok(), server.output().c_str());
        const QString key = QString("app-restart-%1").arg(QCoreApplication::applicationPid());
        Session session(rtmpSettings(rtmp_, key, "\"audioSource\": \"local\""),
                        {{"PULSE_SERVER", QString::fromStdString(server.address())}});
        writeToneFLAC((session.station() + "/Music/a.flac").toStdString(), 44100, 2, 440, 60);
        Desktop& desktop = session.start();
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        bool heardAgain = false;
        const QString output = liveRun(desktop, [&] {
            QThread::msleep(2000);
            heardAgain =
                server.restart() &&
                QTest::qWaitFor([&] { return desktop.output().contains("Ondaline: Local player heard again"); }, 15000);
            QThread::msleep(4000);
        });
        QVERIFY2(!output.isEmpty(), qPrintable(desktop.describe()));
        QVERIFY2(heardAgain, qPrintable(QString::fromStdString(server.output()) + "\n" + output));
        QCOMPARE(desktop.quit(), 0);

        const std::string file = recordingOf(rtmp_.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
        QVERIFY(!file.empty());
        std::vector<float> music = fromOnset(decodeFirstChannel(file));
        QVERIFY2(music.size() > 44100 * 5, qPrintable(QString::number(double(music.size()) / 44100)));
        music.resize(music.size() - 44100 / 2);  // past the stop
        const double longest = double(longestSilence(music)) / 44100;
        QVERIFY2(longest < 0.2, qPrintable(QString("%1 s of silence on air\n").arg(longest) + output));
    }

    void anAbsentSavedSinkFallsBackToTheDefault()
    {
        Session session("{\"audioSource\": \"local\", \"audioOutputDeviceUID\": \"no_such_sink\"}");
        Desktop& desktop = session.start();
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        QTRY_VERIFY_WITH_TIMEOUT(
            desktop.output().contains(
                "Ondaline: Saved output device not found (uid=no_such_sink), using system default"),
            10000);
        QVERIFY(desktop.output().contains("Ondaline: Audio output → System Default"));
        QCOMPARE(desktop.quit(), 0);
        QFile settings(session.station() + "/Misc/System/Streamer/ondaline_schedule.json");
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("no_such_sink"));  // kept for when it is there
    }

    // What the program says of it is in Linux words.
    void appCaptureIsRecordedAtItsPitchAlsoForFacebook()
    {
        // A 550 Hz program under a binary name of its own: other tests play
        // tones on the same sound server.
        QTemporaryDir dir;
        const QString program = QString("ondaline-e2e-tone-%1").arg(QCoreApplication::applicationPid());
        std::vector<float> samples(48000 * 40 * 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = 0.25f * static_cast<float>(std::sin(2 * M_PI * 550 * double(i / 2) / 48000));
        }
        QFile raw(dir.filePath("tone.raw"));
        QVERIFY(raw.open(QIODevice::WriteOnly));
        raw.write(reinterpret_cast<const char*>(samples.data()), qint64(samples.size() * sizeof(float)));
        raw.close();
        QProcess tone;
        tone.start("pacat", {"--playback", "--raw", "--format=float32le", "--rate=48000", "--channels=2",
                             "--property=application.name=E2E Tone", "--property=application.process.binary=" + program,
                             raw.fileName()});
        QVERIFY(tone.waitForStarted());
        for (const char* mode : {"rtmp", "facebook"}) {
            const QString key = QString("app-capture-%1-%2").arg(mode).arg(QCoreApplication::applicationPid());
            QString settings = rtmpSettings(rtmp_, key,
                                            "\"audioSource\": \"appcapture\", \"appCaptureName\": \"E2E Tone\", "
                                            "\"appCaptureBundleID\": \"" +
                                                program + "\"");
            settings.replace("\"streamMode\": \"rtmp\"", QString("\"streamMode\": \"%1\"").arg(mode));
            Session session(settings);
            Desktop& desktop = session.start();
            QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
            QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("Connected to E2E Tone") ||
                                         desktop.output().contains("AudioSourceCapture: Setting up capture"),
                                     10000);
            QThread::msleep(1000);
            const QString output = liveRun(desktop, [] { QThread::msleep(5000); });
            QVERIFY2(!output.isEmpty(), qPrintable(desktop.describe()));
            QCOMPARE(desktop.quit(), 0);
            QCOMPARE(otherPlatformsWords(output), QString());
            const std::string file = recordingOf(rtmp_.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
            QVERIFY(!file.empty());
            const double rate = std::string(mode) == "facebook" ? 44100 : 48000;
            const double pitch = capturedPitch(file, 3.5, rate);
            QVERIFY2(std::abs(pitch - 550) < 1.5, qPrintable(QString("%1: %2 Hz\n").arg(mode).arg(pitch) + output));
        }
        tone.kill();
        tone.waitForFinished();
    }

    // Alpha, Mike and Zed of one binary; Mike saved: Mike alone on air, not
    // the first of that binary, when the program starts again.
    void theSavedApplicationOfItsBinaryIsRecordedAlone()
    {
        QTemporaryDir dir;
        const QString program = QString("ondaline-e2e-trio-%1").arg(QCoreApplication::applicationPid());
        std::vector<std::unique_ptr<QProcess>> players;
        for (const auto& [name, hz] : {std::pair{"Alpha", 300}, std::pair{"Mike", 1250}, std::pair{"Zed", 2000}}) {
            const QString wav = dir.filePath(QString("%1.wav").arg(name));
            writeToneWAV(wav.toStdString(), 48000, hz, 60);
            players.push_back(std::make_unique<QProcess>());
            players.back()->start("pacat", {"--file-format=wav", QString("--property=application.name=%1").arg(name),
                                            "--property=application.process.binary=" + program, wav});
        }
        const QString key = QString("app-capture-trio-%1").arg(QCoreApplication::applicationPid());
        Session session(rtmpSettings(rtmp_, key,
                                     "\"audioSource\": \"appcapture\", \"appCaptureName\": \"Mike\", "
                                     "\"appCaptureBundleID\": \"" +
                                         program + "\""));
        QString output;
        const std::string file = streamCapture(session, key, output);
        for (const auto& player : players) {
            player->kill();
            player->waitForFinished();
        }
        QVERIFY2(!file.empty(), qPrintable(output));
        const double pitch = capturedPitch(file, 2.5, 48000);
        QVERIFY2(std::abs(pitch - 1250) < 2, qPrintable(QString("%1 Hz\n").arg(pitch) + output));
        // Each tenth alone, from where the sound starts: Alpha or Zed let
        // through for a moment, which the median passes over, is heard there.
        const auto onAir = fromOnset(decodeFirstChannel(file));
        const double toneLevel = medianLevel(onAir, 48000);
        for (const double other : {300.0, 2000.0}) {
            const std::string heard = whereHeard(onAir, 48000, other, toneLevel - 3);
            QVERIFY2(heard.empty(), qPrintable(QString("%1 Hz at ").arg(other) + QString::fromStdString(heard)));
        }
    }

    // Another member's settings (a file another user owns, or, run by
    // anyone but root, one the group may write) name an application
    // playing in the operator's session: it is told and not captured at
    // start, and nothing of it goes on air at Start.
    void anApplicationNamedInAMembersSettingsIsNotOnAir()
    {
        QTemporaryDir dir;
        const QString program = QString("ondaline-e2e-member-%1").arg(QCoreApplication::applicationPid());
        const QString wav = dir.filePath("tone.wav");
        writeToneWAV(wav.toStdString(), 48000, 550, 60);
        QProcess player;
        player.start("pacat", {"--file-format=wav", "--property=application.name=Member Tone",
                               "--property=application.process.binary=" + program, wav});
        QVERIFY(player.waitForStarted());
        const QString key = QString("app-capture-member-%1").arg(QCoreApplication::applicationPid());
        Session session(rtmpSettings(rtmp_, key,
                                     "\"audioSource\": \"appcapture\", \"appCaptureName\": \"Member Tone\", "
                                     "\"appCaptureBundleID\": \"" +
                                         program + "\""));
        const std::string file = (session.station() + "/Misc/System/Streamer/ondaline_schedule.json").toStdString();
        if (::geteuid() == 0) QCOMPARE(::chown(file.c_str(), 65534, 65534), 0);
        else QCOMPARE(::chmod(file.c_str(), 0664), 0);
        Desktop& desktop = session.start();
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains(QString::fromUtf8(
                                     "AppCapture: 'Member Tone' from settings others may change — pick "
                                     "to capture")),
                                 10000);
        const QString output = liveRun(desktop, [] { QThread::msleep(3000); });
        QVERIFY2(!output.isEmpty(), qPrintable(desktop.describe()));
        QCOMPARE(desktop.quit(), 0);
        player.kill();
        player.waitForFinished();
        QVERIFY2(!output.contains("AudioSourceCapture: ✅ Capture started"), qPrintable(output));
        const std::string recording = recordingOf(rtmp_.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
        QVERIFY(!recording.empty());
        const std::vector<float> onAir = decodeFirstChannel(recording);
        QVERIFY2(onAir.size() > 48000 * 2, qPrintable(QString::number(double(onAir.size()) / 48000)));
        const float loudest = std::abs(*std::max_element(onAir.begin(), onAir.end(),
                                                         [](float a, float b) { return std::abs(a) < std::abs(b); }));
        QVERIFY2(loudest < 0.01f, qPrintable(QString("peak %1 on air\n").arg(loudest) + output));
    }

    // PipeWire gives its own players (pw-play) no binary: chosen by the
    // application's name, as the picker stores it, the player is captured.
    void pipeWirePlayerIsRecordedAtItsPitch()
    {
        if (soundPeer() != "pipewire") QSKIP("pw-play is a client of PipeWire's own");
        QTemporaryDir dir;
        const std::string wav = dir.filePath("tone.wav").toStdString();
        QCOMPARE(runCommand("ffmpeg -v error -f lavfi -i sine=f=660:d=60 -ac 2 -ar 48000 " + wav).exitCode, 0);
        QProcess player;
        player.start("pw-play", {QString::fromStdString(wav)});
        QVERIFY(player.waitForStarted());
        const QString key = QString("app-capture-pw-%1").arg(QCoreApplication::applicationPid());
        Session session(rtmpSettings(rtmp_, key,
                                     "\"audioSource\": \"appcapture\", \"appCaptureName\": \"pw-play\", "
                                     "\"appCaptureBundleID\": \"pw-play\""));
        QString output;
        const std::string file = streamCapture(session, key, output);
        player.kill();
        player.waitForFinished();
        QVERIFY2(!file.empty() && output.contains("AudioSourceCapture: ✅ Capture started for 'pw-play'"),
                 qPrintable(output));
        const double pitch = capturedPitch(file, 2.5, 48000);
        QVERIFY2(std::abs(pitch - 660) < 1.5, qPrintable(QString("%1 Hz\n").arg(pitch) + output));
    }

private:
    // The program of `session`, once its capture has started, streams for
    // four seconds: the recording under `key`, or empty; `output`, its log.
    std::string streamCapture(Session& session, const QString& key, QString& output)
    {
        Desktop& desktop = session.start();
        const bool started =
            desktop.waitForWindow() &&
            QTest::qWaitFor([&] { return desktop.output().contains("AudioSourceCapture: ✅ Capture started for '"); },
                            10000);
        if (started) {
            desktop.click(startButton);
            if (QTest::qWaitFor([&] { return desktop.output().contains("Ondaline: ✓ Publishing live!"); }, 20000)) {
                QThread::msleep(4000);
                desktop.click(startButton);
                QThread::msleep(500);
            }
        }
        const bool quit = desktop.quit() == 0;
        output = desktop.describe();
        if (!started || !quit) return {};
        return recordingOf(rtmp_.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString());
    }

    std::map<std::string, std::string> rtmp_;
    std::unique_ptr<OwnSoundServer> server_;
};

QTEST_GUILESS_MAIN(SourcesEndToEnd)
#include "sources_e2e_test.moc"
