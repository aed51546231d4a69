// The help window of the built program on a virtual display: with no way to
// the documentation it shows its own page, the web engine's start leaves the
// log alone, and quitting with it open ends the program cleanly. Its web
// engine is loaded only then, never runs without its sandbox, and as root is
// not loaded at all; without the library that holds it help says it cannot
// be shown.

#include "support/desktop_session.h"
#include "support/needs.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unistd.h>

using namespace ondaline::test;

namespace {

const QPoint helpButton(14 + 462 + 11, 14 + 4 + 11);

bool mapped(qint64 pid, const QByteArray& library)
{
    QFile maps(QString("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}

bool webEngineMapped(qint64 pid) { return mapped(pid, "libQt6WebEngineCore"); }

// The command lines of `pid` and of every process below it, their
// arguments joined by spaces.
QStringList commandLinesFrom(qint64 pid)
{
    QMultiMap<qint64, qint64> children;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 process = entry.toLongLong(&number);
        QFile stat("/proc/" + entry + "/stat");
        if (!number || !stat.open(QIODevice::ReadOnly)) continue;
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1) children.insert(fields[1].toLongLong(), process);
    }
    QStringList lines;
    QList<qint64> pending{pid};
    while (!pending.isEmpty()) {
        const qint64 process = pending.takeFirst();
        pending += children.values(process);
        QFile cmdline(QString("/proc/%1/cmdline").arg(process));
        if (cmdline.open(QIODevice::ReadOnly)) lines << QString::fromUtf8(cmdline.readAll().replace('\0', ' '));
    }
    return lines;
}

QString unsandboxed(qint64 pid) { return commandLinesFrom(pid).filter("--no-sandbox").join('\n'); }

// The names of the windows shown on the session's display.
QStringList windowNames(const Desktop& desktop)
{
    QProcess tool;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert("DISPLAY", desktop.display());
    tool.setProcessEnvironment(variables);
    tool.start("xdotool", {"search", "--onlyvisible", "--name", ".", "getwindowname", "%@"});
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// A launcher in `folder` that starts `program` as the user nobody.
// The page that says help is unavailable, in its window of 820 x 640
// centred on the 1280 x 800 screen: its ground at the window's lower left,
// and the red of its heading's letters at the top of its column.
bool fallbackShown(const QImage& screen)
{
    const bool ground = screen.pixelColor(240, 700) == QColor(0xf5, 0xf5, 0xf5);
    int heading = 0;
    for (int y = 140; y < 200; ++y)
        for (int x = 300; x < 800; ++x) heading += screen.pixelColor(x, y) == QColor(0xc0, 0x39, 0x2b);
    return ground && heading > 100;
}

QString asNobody(const QString& folder, const QString& program)
{
    return writeLauncher(folder, "as-nobody",
                         "setpriv --reuid=nobody --regid=nogroup --clear-groups --pdeathsig keep " + program);
}

}  // namespace

class HelpEndToEnd : public QObject {
    Q_OBJECT
private slots:
    // As a person's own account: run by root, the test starts the program
    // as the user nobody.
    void theFallbackPageShowsAndQuitEndsCleanly()
    {
        QTemporaryDir home;
        writeStation(home.path(), "{}");
        QString program = ONDALINE_PROGRAM;
        QMap<QString, QString> environment;
        if (geteuid() == 0) {
            QProcess::execute("chmod", {"-R", "a+rwX", home.path()});
            program = asNobody(home.path(), program);
            environment = sanitizerOptionsReadableIn(home.path());
        }
        Desktop desktop(program, home.path(), environment);
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        QVERIFY2(!webEngineMapped(desktop.pid()), "the web engine was loaded before help was opened");
        desktop.click(helpButton);

        QTRY_VERIFY_WITH_TIMEOUT(fallbackShown(desktop.screen()), 30000);
        QVERIFY(webEngineMapped(desktop.pid()));
        QVERIFY2(commandLinesFrom(desktop.pid()).filter("QtWebEngineProcess").size() > 0,
                 qPrintable(commandLinesFrom(desktop.pid()).join('\n')));
        QVERIFY2(unsandboxed(desktop.pid()).isEmpty(), qPrintable(unsandboxed(desktop.pid())));
        // The web engine's start-up report stays out of the log.
        QVERIFY2(!desktop.output().contains("qt.webenginecontext"), qPrintable(desktop.output()));

        desktop.key("ctrl+q");
        QCOMPARE(desktop.waitForExit(15000), 0);
        QVERIFY2(!desktop.output().contains("still not deleted"), qPrintable(desktop.output()));
    }

    // Run as root, help is the same window, filled with the program's own
    // page; the web engine, and the library that holds it, are never
    // loaded, and nothing runs without a sandbox.
    void helpAsRootShowsItsOwnPageWithoutTheWebEngine()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "running the program as root needs root");
        QTemporaryDir home;
        writeStation(home.path(), "{}");
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(helpButton);
        QTRY_VERIFY2_WITH_TIMEOUT(windowNames(desktop).contains("Ondaline Help") && fallbackShown(desktop.screen()),
                                  qPrintable(windowNames(desktop).join(", ")), 20000);
        QThread::msleep(1000);  // where an engine started, its processes would be up by now
        QVERIFY2(unsandboxed(desktop.pid()).isEmpty(), qPrintable(unsandboxed(desktop.pid())));
        QVERIFY2(commandLinesFrom(desktop.pid()).size() == 1, qPrintable(commandLinesFrom(desktop.pid()).join('\n')));
        QVERIFY(!mapped(desktop.pid(), "libondaline_help.so"));
        QVERIFY(!webEngineMapped(desktop.pid()));
        QCOMPARE(desktop.quit(), 0);
    }

    // The program alone, as if the library beside it had not been installed.
    void helpWithoutItsLibrarySaysSoAndTheProgramGoesOn()
    {
        QTemporaryDir home;
        writeStation(home.path(), "{}");
        QProcess::execute("chmod", {"-R", "a+rwX", home.path()});
        const QString program = home.path() + "/ondaline";
        QVERIFY(QFile::copy(ONDALINE_PROGRAM, program));
        // As root there would be no library to miss.
        const QString launcher = geteuid() == 0 ? asNobody(home.path(), program) : program;
        Desktop desktop(launcher, home.path(), sanitizerOptionsReadableIn(home.path()));
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(helpButton);
        const QString said = QString::fromUtf8("Ondaline: ⚠ Help cannot be shown — ");
        QTRY_VERIFY2_WITH_TIMEOUT(desktop.output().contains(said), qPrintable(desktop.describe()), 20000);
        const QString why = desktop.output().section(said, 1).section('\n', 0, 0);
        QVERIFY2(why.contains("libondaline_help.so"), qPrintable(why));
        QCOMPARE(desktop.quit(), 0);
    }
};

QTEST_GUILESS_MAIN(HelpEndToEnd)
#include "help_e2e_test.moc"
