// The desktop helper itself: a program that ends without a window makes a
// failure message that says what it printed, how it ended and where; one
// that does not end when asked is not taken for one that exited cleanly;
// and a test that dies leaves nothing of its session running.

#include "support/desktop_session.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

using namespace ondaline::test;

namespace {

// The processes `pid` has started and not reaped, from the kernel's list of
// each of its threads' children.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    for (const QString& task : QDir(QString("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile list(QString("/proc/%1/task/%2/children").arg(pid).arg(task));
        if (!list.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& child : list.readAll().split(' '))
            if (!child.trimmed().isEmpty()) children << child.trimmed().toLongLong();
    }
    return children;
}

// Still running: neither gone nor ended and waiting to be reaped.
bool runs(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray fields = stat.readAll();
    const QByteArray state = fields.mid(fields.lastIndexOf(')') + 2, 1);  // after the name, which may hold blanks
    return state != "Z" && state != "X";
}

}  // namespace

class DesktopSessionTest : public QObject {
    Q_OBJECT
private slots:
    void programThatEndsAtOnceIsDescribed()
    {
        QTemporaryDir home;
        const QString program = writeScript(home.path(), "ends-at-once",
                                            "echo \"no window today\"\necho \"DISPLAY=$DISPLAY\" >&2\nexit 3");
        QVERIFY(!program.isEmpty());

        Desktop desktop(program, home.path());
        QVERIFY(desktop.started());
        QVERIFY(!desktop.waitForWindow());
        const QString described = desktop.describe();
        QVERIFY2(described.startsWith(program + " on display " + desktop.display() + ", exited with status 3"),
                 qPrintable(described));
        QVERIFY2(described.contains("no window today") && described.contains("DISPLAY=" + desktop.display()),
                 qPrintable(described));
    }

    // A program that hangs at exit is killed, and says so: a test that
    // wants it to exit 0 fails.
    void programThatDoesNotEndIsKilledAndSaysSo()
    {
        QTemporaryDir home;
        const QString program = writeScript(home.path(), "stays", "trap '' TERM\necho ready\nexec sleep 600");
        QVERIFY(!program.isEmpty());
        Desktop desktop(program, home.path());
        QVERIFY(desktop.started());
        QTRY_VERIFY_WITH_TIMEOUT(desktop.output().contains("ready"), 20000);  // SIGTERM ignored from here on
        QCOMPARE(desktop.quit(500), Desktop::killed);
        QCOMPARE(desktop.waitForExit(0), Desktop::killed);
        QVERIFY2(desktop.describe().contains("killed"), qPrintable(desktop.describe()));
    }

    // A test that dies, killed (as at a time-out) or aborted by Qt Test's
    // watchdog, leaves neither its Xvfb nor its program running.
    void deadTestLeavesNothingRunning_data()
    {
        QTest::addColumn<bool>("aborted");
        QTest::newRow("killed") << false;
        QTest::newRow("aborted by the watchdog") << true;
    }
    void deadTestLeavesNothingRunning()
    {
        QFETCH(bool, aborted);
        QTemporaryDir files;  // the dead test's temporary folder, and its home
        QProcess test;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ONDALINE_TEST_THAT_DIES", files.path());
        environment.insert("QTEST_DISABLE_STACK_DUMP", "1");  // seconds of gdb, the same end
        test.setProcessEnvironment(environment);
        test.start("env",
                   {"TMPDIR=" + files.path(), QCoreApplication::applicationFilePath(), "sessionOfATestThatDies"});
        QString said;
        while (!said.contains("session started") && test.waitForReadyRead(90000))
            said += QString::fromUtf8(test.readAllStandardOutput());
        QVERIFY2(said.contains("session started"), qPrintable(said + test.readAllStandardError()));

        const QList<qint64> started = childrenOf(test.processId());
        const auto cleared = qScopeGuard([&] {
            for (const qint64 pid : started)
                if (runs(pid)) ::kill(static_cast<pid_t>(pid), SIGTERM);  // Xvfb then removes its lock file
        });
        QVERIFY2(started.size() >= 2, qPrintable(QString("started: %1").arg(started.size())));  // Xvfb, the program
        if (aborted) test.write("\n");
        else ::kill(static_cast<pid_t>(test.processId()), SIGKILL);
        QVERIFY(test.waitForFinished(30000));
        QCOMPARE(test.exitStatus(), QProcess::CrashExit);
        const auto left = [&] {
            QStringList running;
            for (const qint64 pid : started) {
                QFile command(QString("/proc/%1/cmdline").arg(pid));
                if (runs(pid) && command.open(QIODevice::ReadOnly))
                    running << QString::fromUtf8(command.readAll().replace('\0', ' ')).trimmed();
            }
            return running.join("; ");
        };
        if (!QTest::qWaitFor([&] { return left().isEmpty(); }, 10000)) QCOMPARE(left(), QString());
    }

    // The dying test of the case above, run only by it: a session, then,
    // once the case has seen it, the watchdog's end or a kill.
    void sessionOfATestThatDies()
    {
        if (!qEnvironmentVariableIsSet("ONDALINE_TEST_THAT_DIES")) QSKIP("run by deadTestLeavesNothingRunning");
        const QString home = qEnvironmentVariable("ONDALINE_TEST_THAT_DIES");
        const QString program = writeLauncher(home, "program", "sleep 600");
        Desktop desktop(program, home);
        QVERIFY(desktop.started());
        std::puts("session started");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        qFatal("Test function timed out");  // the watchdog's own words
    }
};

QTEST_GUILESS_MAIN(DesktopSessionTest)
#include "desktop_session_test.moc"
