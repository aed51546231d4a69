#include "support/desktop_session.h"

#include "support/machine_lock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include <sys/prctl.h>
#include <unistd.h>

namespace ondaline::test {

namespace {

// `process` gets `signal` when the thread that started it ends. A test that
// dies, aborted by Qt Test's watchdog or killed, runs no destructor: its
// session would run on, for good.
void endsWithItsTest(QProcess& process, int signal)
{
    const pid_t test = ::getpid();
    process.setChildProcessModifier([test, signal] {
        ::prctl(PR_SET_PDEATHSIG, signal);
        if (::getppid() != test) ::raise(signal);  // the test ended before this
    });
}

}  // namespace

Desktop::Desktop(const QString& program, const QString& home, const QMap<QString, QString>& environment)
    : xvfbLog_(files_.filePath("xvfb.log"))
{
    // Sessions start one at a time, across test processes and every user's
    // runs (the README's test takes the same lock for xvfb-run): on loaded
    // runs a program started while other X servers came up now and then
    // could not connect to its own. Only the start is taken in turn.
    try {
        startLock_ = std::make_unique<MachineLock>(machineLockFile("desktop-start"), "a virtual display's start");
    } catch (const std::runtime_error& e) {
        notStarted_ = QString::fromStdString(e.what());
        qWarning("%s", e.what());  // also where a test checks only started()
        return;
    }
    // A display number drawn at random, not the lowest free one, as tests
    // run side by side; Xvfb's lock file tells who has a number, and a
    // server whose number is taken ends at once, so the next one is tried.
    // -noreset: by default Xvfb resets when its last client leaves, and
    // xdotool, looking for the window while the program connects, is often
    // that client; the reset dropped the program's connection half made.
    // Xvfb's messages are kept for describe().
    xvfb_.setStandardOutputFile(QProcess::nullDevice());
    xvfb_.setStandardErrorFile(xvfbLog_);
    endsWithItsTest(xvfb_, SIGTERM);  // which removes its lock file
    const int first = 100 + static_cast<int>(QRandomGenerator::global()->bounded(800));
    for (int number = first; number < first + 20 && display_.isEmpty(); ++number) {
        QFile lock(QString("/tmp/.X%1-lock").arg(number));
        if (lock.exists()) continue;
        xvfb_.start("Xvfb",
                    {QString(":%1").arg(number), "-noreset", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        // Ours once the lock file holds its process id; the program starts
        // only on a display that answers.
        display_ = QString(":%1").arg(number);
        bool ours = false;
        for (int i = 0; i < 100; ++i) {
            if (xvfb_.state() == QProcess::NotRunning || xvfb_.waitForFinished(100)) break;  // taken after all
            if (!ours && lock.open(QIODevice::ReadOnly)) {
                ours = lock.readAll().trimmed().toLongLong() == xvfb_.processId();
                lock.close();
            }
            if (ours && xdotool({"getdisplaygeometry"}).startsWith("1280 800")) break;
        }
        if (!ours || xvfb_.state() == QProcess::NotRunning) {
            display_.clear();
            xvfb_.kill();
            xvfb_.waitForFinished(5000);
        }
    }
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.remove("QT_QPA_PLATFORM");
    variables.remove("WAYLAND_DISPLAY");
    variables.insert("DISPLAY", display_);
    variables.insert("HOME", home);
    variables.insert("XDG_CONFIG_HOME", home + "/.config");
    for (auto it = environment.begin(); it != environment.end(); ++it) variables.insert(it.key(), it.value());
    program_.setProcessEnvironment(variables);
    program_.setProcessChannelMode(QProcess::MergedChannels);
    endsWithItsTest(program_, SIGKILL);  // a program that hangs would not end on less
    program_.start(program, QStringList{});
}

Desktop::~Desktop()
{
    endStart();
    quit();
    xvfb_.terminate();
    xvfb_.waitForFinished(5000);
    QFile::remove(xvfbLog_);
}

void Desktop::endStart() { startLock_.reset(); }

bool Desktop::waitForWindow()
{
    const auto started = qScopeGuard([this] { endStart(); });
    // A minute: on a loaded two-core machine the program's start, fonts and
    // all, has taken more than twenty seconds.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        // The root window has no class name; the program's windows do.
        const QString id = xdotool({"search", "--onlyvisible", "--classname", "."}).section('\n', 0, 0).trimmed();
        if (!id.isEmpty()) {
            window_ = id;
            const QString geometry = xdotool({"getwindowgeometry", "--shell", window_});
            for (const QString& line : geometry.split('\n')) {
                if (line.startsWith("X=")) origin_.setX(line.mid(2).toInt());
                if (line.startsWith("Y=")) origin_.setY(line.mid(2).toInt());
            }
            QThread::msleep(500);  // the first paint
            return true;
        }
        // Also reads the program's end, which no event loop reports here.
        if (program_.state() == QProcess::NotRunning || program_.waitForFinished(100)) return false;
    }
    return false;
}

void Desktop::click(QPoint at)
{
    xdotool({"mousemove", "--window", window_, QString::number(at.x()), QString::number(at.y())});
    QThread::msleep(100);
    xdotool({"click", "1"});
}

void Desktop::clickOnScreen(QPoint at, int clicks)
{
    xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())});
    QThread::msleep(100);
    xdotool({"click", "--repeat", QString::number(clicks), "1"});
}

void Desktop::wheel(QPoint at, int notches)
{
    xdotool({"mousemove", "--window", window_, QString::number(at.x()), QString::number(at.y())});
    QThread::msleep(100);
    xdotool({"click", "--repeat", QString::number(std::abs(notches)), notches > 0 ? "5" : "4"});
}

void Desktop::type(const QString& text)
{
    xdotool({"type", "--delay", "30", text});
    QThread::msleep(100);
}

void Desktop::key(const QString& keys)
{
    xdotool(QStringList{"key", "--delay", "100"} + keys.split(' ', Qt::SkipEmptyParts));
    QThread::msleep(100);
}

QSize Desktop::size()
{
    QSize size;
    for (const QString& line : xdotool({"getwindowgeometry", "--shell", window_}).split('\n')) {
        if (line.startsWith("WIDTH=")) size.setWidth(line.mid(6).toInt());
        if (line.startsWith("HEIGHT=")) size.setHeight(line.mid(7).toInt());
    }
    return size;
}

QImage Desktop::shot(int width)
{
    xdotool({"mousemove", "--window", window_, "4", "4"});
    QThread::msleep(200);
    return screen().copy(origin_.x(), origin_.y(), width, 640);
}

QImage Desktop::screen()
{
    const QString file = files_.filePath("shot.png");
    QProcess import;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert("DISPLAY", display_);
    import.setProcessEnvironment(variables);
    import.start("import", {"-window", "root", file});
    import.waitForFinished(20000);
    const QImage image(file);
    QFile::remove(file);
    return image.convertToFormat(QImage::Format_RGB32);
}

int Desktop::waitForExit(int milliseconds)
{
    if (!program_.waitForFinished(milliseconds) && program_.state() != QProcess::NotRunning) return stillRunning;
    output_ += QString::fromUtf8(program_.readAll());
    return ending();
}

int Desktop::quit(int patienceMs)
{
    if (program_.state() != QProcess::NotRunning) {
        program_.terminate();
        if (!program_.waitForFinished(patienceMs)) {
            killed_ = true;
            program_.kill();
            program_.waitForFinished(10000);
        }
        output_ += QString::fromUtf8(program_.readAll());
    }
    return ending();
}

int Desktop::ending() const
{
    if (killed_) return killed;
    return program_.exitStatus() == QProcess::NormalExit ? program_.exitCode() : crashed;
}

QString Desktop::output()
{
    // Without an event loop the pipe is read only when asked to.
    if (program_.state() != QProcess::NotRunning) program_.waitForReadyRead(0);
    output_ += QString::fromUtf8(program_.readAll());
    return output_;
}

QString Desktop::describe()
{
    program_.waitForFinished(0);  // learns of an end no event loop reported
    QString state;
    if (program_.state() != QProcess::NotRunning) state = "still running";
    else if (killed_) state = "killed, as it did not end on SIGTERM";
    else if (program_.exitStatus() == QProcess::CrashExit) state = "crashed";
    else if (program_.error() == QProcess::FailedToStart) state = "failed to start: " + program_.errorString();
    else state = "exited with status " + QString::number(program_.exitCode());
    if (!notStarted_.isEmpty()) return "not started: " + notStarted_;
    const QString display = display_.isEmpty() ? QString("no display (Xvfb did not start)") : "display " + display_;
    QFile xvfbLog(xvfbLog_);
    const QString xvfb = xvfbLog.open(QIODevice::ReadOnly) ? QString::fromUtf8(xvfbLog.readAll()) : QString();
    xvfb_.waitForFinished(0);
    return program_.program() + " on " + display + ", " + state + "; its output:\n" + output() + "\nXvfb (" +
           (xvfb_.state() == QProcess::NotRunning ? "ended" : "running") + "):\n" + xvfb;
}

QString Desktop::xdotool(const QStringList& arguments)
{
    QProcess tool;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert("DISPLAY", display_);
    tool.setProcessEnvironment(variables);
    tool.start("xdotool", arguments);
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput());
}

QString writeStation(const QString& home, const QString& settingsJSON)
{
    const QString station = home + "/station";
    QDir().mkpath(station + "/Misc/System/Streamer");
    QDir().mkpath(station + "/Music");
    QFile pointer(home + "/.ondaline_station");
    if (pointer.open(QIODevice::WriteOnly)) pointer.write(station.toUtf8());
    QFile settings(station + "/Misc/System/Streamer/ondaline_schedule.json");
    if (settings.open(QIODevice::WriteOnly)) settings.write(settingsJSON.toUtf8());
    return station;
}

QString writeScript(const QString& folder, const QString& name, const QString& body)
{
    QFile script(folder + "/" + name);
    const QByteArray bytes = ("#!/bin/sh\n" + body + "\n").toUtf8();
    if (!script.open(QIODevice::WriteOnly) || script.write(bytes) != bytes.size()) return {};
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    return script.fileName();
}

QString writeLauncher(const QString& folder, const QString& name, const QString& command)
{
    return writeScript(folder, name, "exec " + command);
}

QMap<QString, QString> sanitizerOptionsReadableIn(const QString& folder)
{
    QMap<QString, QString> options;
    const QString key = "suppressions=";
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        QStringList parts = qEnvironmentVariable(name).split(':', Qt::SkipEmptyParts);
        if (parts.isEmpty()) continue;
        for (QString& part : parts) {
            if (!part.startsWith(key)) continue;
            const QString copy = folder + "/" + QString(name).toLower() + ".supp";
            if (!QFile::copy(part.mid(key.size()), copy)) continue;
            QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
            part = "suppressions=" + copy;
        }
        options.insert(name, parts.join(':'));
    }
    return options;
}

}  // namespace ondaline::test
