// The program started from a terminal that is paused with Ctrl+S while it
// streams, as a user does by reflex: the stream and the window go on, Qt's
// own messages included, and Ctrl+Q brings the output back with a word on
// what it missed.

#include "support/desktop_session.h"
#include "support/peer_env.h"
#include "support/recording.h"
#include "support/stalled_reader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>

using namespace ondaline::test;
using namespace std::chrono_literals;

namespace {

const QPoint startButton(14 + 89 + 75, 14 + 508 + 18);
const QPoint settingsButton(14 + 89 + 164 + 75, 14 + 508 + 18);

// Senders whose header the TCP input refuses, one after the other, each
// waiting for the input to close it: three lines of the log each, more than
// the output queue holds once the last has gone (133 bytes each).
void refusedSenders(int count)
{
    const std::uint32_t header[3] = {1, 2, 32};  // a rate of 1 Hz
    const timeval patience{5, 0};
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(9170);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::send(fd, header, sizeof header, MSG_NOSIGNAL) == sizeof header) {
            char byte;
            while (::recv(fd, &byte, 1, 0) > 0) {
            }
        }
        ::close(fd);
    }
}

// Built with the sanitizers, the program's own reports go to files beside
// `prefix`: they are written on the thread that makes them and would wait
// on the paused terminal (the leak checker's list of what its suppressions
// matched, at every exit).
QMap<QString, QString> sanitizerReportsBeside(const QString& prefix)
{
    QMap<QString, QString> options;
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name)) options.insert(name, qEnvironmentVariable(name) + ":log_path=" + prefix);
    }
    return options;
}

// What the sanitizers found, from the files they wrote beside `prefix`.
QString sanitizerErrors(const QString& prefix)
{
    QString errors;
    const QFileInfo where(prefix);
    for (const QFileInfo& report : QDir(where.path()).entryInfoList({where.fileName() + ".*"}, QDir::Files)) {
        QFile file(report.filePath());
        const QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        if (text.contains("ERROR:") || text.contains("runtime error")) errors += text;
    }
    return errors;
}

}  // namespace

class TerminalEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void streamAndWindowOutliveAPausedTerminal()
    {
        const auto rtmp = loadPeerEnv("rtmp");
        QVERIFY2(!rtmp.empty(), "the rtmp peer is not running");
        Terminal terminal;
        QVERIFY(terminal.opened());
        QTemporaryDir home;
        const QString key = QString("paused-terminal-%1").arg(QCoreApplication::applicationPid());
        writeStation(home.path(), QString("{\"streamMode\": \"rtmp\", \"audioSource\": \"tcp\", "
                                          "\"serverURL\": \"%1\", \"streamKey\": \"%2\", \"audioBitrate\": 128000}")
                                      .arg(QString::fromStdString(rtmp.at("ONDALINE_RTMP_URL")), key));
        const QString inTerminal =
            writeLauncher(home.path(), "in-terminal",
                          QString(ONDALINE_PROGRAM " >%1 2>&1").arg(QString::fromStdString(terminal.path())));
        const QString reports = home.path() + "/sanitizer";
        QMap<QString, QString> environment = sanitizerReportsBeside(reports);
        // Qt says a word on every event of the window, on the main thread.
        environment.insert("QT_LOGGING_RULES", "qt.qpa.*=true");
        Desktop desktop(inTerminal, home.path(), environment);
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(startButton);
        const std::string live = terminal.readUntil("Publishing live", 30s);
        QVERIFY2(live.find("Publishing live") != std::string::npos, live.c_str());

        // Ctrl+S, then a flood of lines while nobody reads them.
        terminal.pressCtrlS();
        refusedSenders(10000);
        std::string file;
        QTRY_VERIFY_WITH_TIMEOUT(!(file = recordingOf(rtmp.at("ONDALINE_RTMP_RECORD_DIR"), key.toStdString())).empty(),
                                 20000);
        const auto paused = std::filesystem::file_size(file);
        QThread::sleep(25);
        const auto later = std::filesystem::file_size(file);
        QThread::sleep(6);
        QVERIFY2(later > paused + 100000 && std::filesystem::file_size(file) > later + 20000,
                 qPrintable(QString("%1 %2 %3").arg(paused).arg(later).arg(std::filesystem::file_size(file))));

        // The window answers, though Qt talks of the click: the drawer opens.
        desktop.click(settingsButton);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.size(), QSize(880, 640), 5000);

        // Ctrl+Q: what was held comes, Qt's word on the click among it, then
        // how much was not.
        terminal.pressCtrlQ();
        const std::string missed = "lines were not written to standard output while it was not read — see the "
                                   "Activity page";
        std::string shown = terminal.readUntil(missed, 30s);
        const std::string click = "qt.qpa.input.events: XI2 mouse press";
        if (shown.find(click) == std::string::npos) shown += terminal.readUntil(click, 10s);
        QVERIFY2(shown.find(click) != std::string::npos, "Qt said nothing of the click");
        QVERIFY2(shown.find(missed) != std::string::npos,
                 qPrintable(QString("%1 bytes, ending: %2")
                                .arg(shown.size())
                                .arg(QString::fromStdString(shown.substr(shown.size() -
                                                                         std::min<std::size_t>(shown.size(), 300))))));

        // Paused again: SIGTERM still ends the stream and the program, after
        // a second for the last lines at most.
        terminal.pressCtrlS();
        QElapsedTimer quitting;
        quitting.start();
        QCOMPARE(desktop.quit(), 0);
        QVERIFY2(quitting.elapsed() < 10000, qPrintable(QString::number(quitting.elapsed())));
        const QString errors = sanitizerErrors(reports);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
    }
};

QTEST_GUILESS_MAIN(TerminalEndToEnd)
#include "terminal_e2e_test.moc"
