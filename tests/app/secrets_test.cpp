// A secret kept apart from a group station's other writers goes only to the
// server it was typed for: whatever a member does to the station's
// settings, Start never carries the operator's stream key or Icecast
// password to another server, the dashboard says so, and typing it again
// sends it there. Run as root, with "nobody" as the member.

#include "app/app_delegate.h"
#include "app/settings_page.h"
#include "launched_controller.h"
#include "member.h"
#include "models/image_schedule_config.h"
#include "models/private_secrets.h"
#include "support/log_capture.h"
#include "support/machine_lock.h"
#include "support/needs.h"

#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

using namespace ondaline;
using namespace ondaline::app;
namespace fs = std::filesystem;

namespace {

using test::asMember;
using test::kGroup;

bool write(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::trunc);
    return bool(out << text);
}

// An RTMP server on loopback that takes every connection as far as
// publishing, and keeps the stream names published: the keys it was sent.
// An Icecast source's password goes with its first bytes: for one, that no
// connection came is enough.
class RecordingServer {
public:
    explicit RecordingServer(std::uint16_t port = 0) : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        socklen_t length = sizeof address;
        listening_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(listener_, 8) == 0 &&
                     ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RecordingServer()
    {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    bool listening() const { return listening_; }
    std::uint16_t port() const { return port_; }
    std::string url() const { return "rtmp://127.0.0.1:" + std::to_string(port_) + "/live"; }
    std::string server() const { return "rtmp://127.0.0.1:" + std::to_string(port_); }
    int connections() const { return connections_; }
    std::string heard() const
    {
        std::lock_guard guard(lock_);
        return heard_;
    }

private:
    void serve()
    {
        while (!stop_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (::poll(&waiting, 1, 50) != 1) continue;
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            ++connections_;
            rtmp(client);
            ::close(client);
        }
    }
    void rtmp(int client)
    {
        test::ScriptedRTMPServer server(client);
        if (!server.handshake() || !server.waitForCommand("connect")) return;
        server.sendResult(1, AMF0Value::object({{"code", AMF0Value::string("NetConnection.Connect.Success")}}));
        const auto createStream = server.waitForCommand("createStream");
        if (!createStream) return;
        server.sendResult(createStream->at(1).numberValue().value_or(2), AMF0Value::number(1));
        const auto publish = server.waitForCommand("publish");
        if (!publish) return;
        if (publish->size() > 3) hear(publish->at(3).stringValue().value_or(""));
        server.sendStatus("NetStream.Publish.Start");
        server.readUntilClosed();
    }
    void hear(const std::string& text)
    {
        std::lock_guard guard(lock_);
        heard_ += text + "\n";
    }

    const int listener_;
    bool listening_ = false;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_ = false;
    std::atomic<int> connections_ = 0;
    mutable std::mutex lock_;
    std::string heard_;
    std::thread thread_;
};

}  // namespace

class SecretsTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::shared_ptr<QtMainExecutor> main_ = std::make_shared<QtMainExecutor>();

    std::string station() const { return home_.path().toStdString() + "/Station"; }
    std::string settingsDir() const { return station() + "/Misc/System/Streamer"; }
    std::string settingsFile() const { return settingsDir() + "/ondaline_schedule.json"; }

    // A station its group shares, afresh, and no secret kept apart yet: the
    // folders on the settings file's way set-group-ID, which the group may
    // write.
    void groupStation()
    {
        fs::remove_all(station() + "/Misc");
        fs::remove_all(privateSecretsFile());
        fs::create_directories(settingsDir());
        for (const std::string& folder : {station() + "/Misc", station() + "/Misc/System", settingsDir()}) {
            QVERIFY(::chown(folder.c_str(), 0, kGroup) == 0);
            QVERIFY(::chmod(folder.c_str(), 02775) == 0);
        }
    }
    std::unique_ptr<TestAppDelegate> launch() { return test::launchController(main_); }
    // The operator's settings, saved by a dashboard as its autosave would
    // after the drawer: the file then the group's to change.
    void operatorSaves(const std::function<void(ImageScheduleConfig&)>& typed)
    {
        const auto app = launch();
        typed(app->scheduleConfig);
        QVERIFY(app->saveSettings());
        QVERIFY(::chown(settingsFile().c_str(), 0, kGroup) == 0);
        QVERIFY(::chmod(settingsFile().c_str(), 0664) == 0);
    }
    // Start, and what the servers heard within a moment; stopped again.
    void pressStartAndStop(TestAppDelegate& app, const std::function<bool()>& heard = {})
    {
        const auto stop = qScopeGuard([&] {
            app.streamer->disconnect();
            app.streamer->networkQueue().sync([] {});
            QCoreApplication::processEvents();
        });
        app.toggleConnect();
        if (heard) QTRY_VERIFY_WITH_TIMEOUT(heard(), 10000);
        else QTest::qWait(300);
    }

private slots:
    void initTestCase()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "changing to another user needs root");
        qputenv("PULSE_SERVER", "unix:/nonexistent/no-sound-server");
        QVERIFY(home_.isValid() && test::usePrivateStation(home_.path()));
        QVERIFY(::chmod(home_.path().toUtf8().constData(), 0755) == 0);
    }

    // Each way a member may point the settings elsewhere, the operator's own
    // server aside: the operator restarts and presses Start, and her server
    // gets no connection. A key only the operator's key file holds, which
    // nothing of theirs has bound to a server, goes nowhere, whatever the
    // settings name. Typing the key again sends it there.
    void aMemberNeverChoosesWhereTheKeyGoes()
    {
        const RecordingServer own;
        const RecordingServer hers;
        // The defaults' server, for settings removed or garbled.
        const test::MachineLock port(test::machineLockFile("rtmp-port-1935"), "the default RTMP port");
        const RecordingServer defaults(1935);
        QVERIFY(defaults.listening());
        const std::string herSettings = "{\"stationName\":\"Hers\",\"serverURL\":\"" + hers.url() + "\"}";
        auto inPlace = [&] { return write(settingsFile(), herSettings); };
        auto removing = [&] { return ::unlink(settingsFile().c_str()) == 0; };
        auto garbling = [&] { return write(settingsFile(), "{\"stationName\": "); };
        // Each way, with what the status line then says of the settings and
        // the server they then name.
        enum class Named { herServer, theDefaults, ownServer };
        struct Way {
            std::function<bool()> act;
            std::string settings;
            Named named = Named::herServer;
            bool keyFile = false;
        };
        const std::map<std::string, Way> ways = {
            {"in place", {inPlace, "your settings"}},
            {"by a file of hers",
             {[&] {
                  return write(settingsDir() + "/.x", herSettings) &&
                         ::rename((settingsDir() + "/.x").c_str(), settingsFile().c_str()) == 0;
              },
              "nobody's settings"}},
            {"by a folder of hers",
             {[&] {
                  return ::rename(settingsDir().c_str(), (settingsDir() + ".old").c_str()) == 0 &&
                         ::mkdir(settingsDir().c_str(), 0755) == 0 && write(settingsFile(), herSettings);
              },
              "nobody's settings"}},
            {"by removing it", {removing, "settings unused", Named::theDefaults}},
            {"by garbling it", {garbling, "settings unused", Named::theDefaults}},
            {"key file, in place", {inPlace, "shared station", Named::herServer, true}},
            {"key file, by removing it", {removing, "shared station", Named::theDefaults, true}},
            {"key file, by garbling it", {garbling, "shared station", Named::theDefaults, true}},
            {"key file, as it was", {[] { return true; }, "shared station", Named::ownServer, true}},
        };
        for (const auto& [way, member] : ways) {
            groupStation();
            const std::string keyFile = settingsDir() + "/ondaline_key";
            if (member.keyFile) {
                QVERIFY(write(keyFile, "operator-key\n"));
                QVERIFY(::chmod(keyFile.c_str(), 0600) == 0);
                QVERIFY(write(settingsFile(), "{\"serverURL\":\"" + own.url() + "\"}"));
                QVERIFY(::chown(settingsFile().c_str(), 0, kGroup) == 0 && ::chmod(settingsFile().c_str(), 0660) == 0);
            } else {
                operatorSaves([&](ImageScheduleConfig& typed) {
                    typed.serverURL = own.url();
                    typed.streamKey = "operator-key";
                });
                QCOMPARE(readPrivateSecrets(settingsFile()).streamKey, (BoundSecret{"operator-key", own.server()}));
            }
            QVERIFY2(asMember(member.act), way.c_str());

            test::LogCapture log;
            const auto app = launch();
            QCOMPARE(app->scheduleConfig.streamKey, std::string());
            const std::string named = member.named == Named::theDefaults ? "rtmp://localhost:1935"
                                      : member.named == Named::ownServer ? own.server()
                                                                         : hers.server();
            const std::string to = member.named == Named::theDefaults ? "localhost" : named.substr(7);
            const QString shown = QString::fromStdString(member.keyFile
                                                             ? "Key file's key not sent to " + to +
                                                                   " (shared station): type it in Settings"
                                                             : "Key for " + own.server().substr(7) + " not sent to " +
                                                                   to + " (" + member.settings + "): type it again");
            QCOMPARE(app->lastErrorText.value_or(""), shown);
            pressStartAndStop(*app);
            QCOMPARE(app->lastErrorText.value_or(""), shown);
            const std::string logged = member.keyFile
                                           ? "Ondaline: ⚠ Stream key from your key file " + keyFile + " not sent to " +
                                                 named + ": it goes only to a server you typed it for"
                                           : "Ondaline: ⚠ Stream key not sent to " + named + ": it was typed for " +
                                                 own.server();
            QVERIFY2(std::ranges::count_if(log.messages(),
                                           [&](const std::string& m) { return m.starts_with(logged); }) == 2,
                     way.c_str());
            QCOMPARE(hers.connections() + defaults.connections(), 0);
            QCOMPARE(own.connections(), 0);
            QCOMPARE(readPrivateSecrets(settingsFile()).streamKey.server, member.keyFile ? "" : own.server());
        }

        // Typed again in the drawer, the key goes where the settings now
        // name (hers, changed in place beside the key file), and stays bound there.
        const auto app = launch();
        app->toggleSettingsDrawer();
        QTRY_VERIFY(app->settingsPage().drStreamKeyField());
        QCOMPARE(app->settingsPage().drStreamKeyField()->text(), QString());
        app->settingsPage().drStreamKeyField()->setText("operator-key");
        app->autoSaveDrawerSettings();
        pressStartAndStop(*app, [&] { return !hers.heard().empty(); });
        QCOMPARE(hers.heard(), std::string("operator-key\n"));
        QCOMPARE(readPrivateSecrets(settingsFile()).streamKey, (BoundSecret{"operator-key", hers.server()}));
    }

    // The same for the Icecast password: a member who changes the server's
    // port never receives it.
    void aMemberNeverChoosesWhereThePasswordGoes()
    {
        const RecordingServer own;
        const RecordingServer hers;
        groupStation();
        operatorSaves([&](ImageScheduleConfig& typed) {
            typed.streamMode = "icecast";
            typed.icecastHost = "127.0.0.1";
            typed.icecastPort = own.port();
            typed.icecastPassword = "operator-password";
        });
        QVERIFY(asMember([&] {
            ImageScheduleConfig hersNow = ImageScheduleConfig::load();
            hersNow.icecastPort = hers.port();
            return hersNow.save().written;
        }));
        const auto app = launch();
        pressStartAndStop(*app);
        QCOMPARE(app->lastErrorText.value_or(""), QString("Password for 127.0.0.1:%1 not sent to 127.0.0.1:%2 "
                                                          "(nobody's settings): type it again")
                                                      .arg(own.port())
                                                      .arg(hers.port()));
        QCOMPARE(hers.connections(), 0);
        QCOMPARE(own.connections(), 0);
    }

    // The operator's own change of server in the drawer carries the key
    // there, for this run and the next.
    void theOperatorsOwnChangeOfServerCarriesTheKey()
    {
        const RecordingServer first;
        const RecordingServer second;
        groupStation();
        operatorSaves([&](ImageScheduleConfig& typed) {
            typed.serverURL = first.url();
            typed.streamKey = "operator-key";
        });
        auto app = launch();
        app->toggleSettingsDrawer();
        QTRY_VERIFY(app->settingsPage().drServerURLField());
        QCOMPARE(app->settingsPage().drStreamKeyField()->text(), QString("operator-key"));
        app->settingsPage().drServerURLField()->setText(QString::fromStdString(second.url()));
        app->autoSaveDrawerSettings();
        pressStartAndStop(*app, [&] { return !second.heard().empty(); });
        QCOMPARE(second.heard(), std::string("operator-key\n"));
        app.reset();
        app = launch();
        QCOMPARE(app->scheduleConfig.streamKey, std::string("operator-key"));
        QCOMPARE(first.connections(), 0);
    }
};

QTEST_MAIN(SecretsTest)
#include "secrets_test.moc"
