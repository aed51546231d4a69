#pragma once

// The built program on a virtual display, used as a person would: Xvfb on a
// free display, the program with a home folder of the test's own, clicks
// with xdotool and screenshots with ImageMagick's import.

#include <QImage>
#include <QMap>
#include <QPoint>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace ondaline::test {

class MachineLock;

class Desktop {
public:
    // Starts Xvfb, then `program` with HOME (and XDG_CONFIG_HOME below it)
    // set to `home` and `environment` added. Both are ended when the thread
    // that made the session ends, however the test ends (killed, or aborted
    // by Qt Test's watchdog): make it on the test's own thread.
    Desktop(const QString& program, const QString& home, const QMap<QString, QString>& environment = {});
    ~Desktop();  // ends the program (SIGTERM), then Xvfb

    bool started() const { return !display_.isEmpty(); }
    const QString& display() const { return display_; }
    qint64 pid() const { return program_.processId(); }

    // Waits (at most a minute) for the program's window and notes its place;
    // false at once when the program has ended.
    bool waitForWindow();
    // A left click at a point of the window.
    void click(QPoint at);
    // Left clicks at a point of the screen, in another of the program's
    // windows, say; 3 selects a line of text.
    void clickOnScreen(QPoint at, int clicks = 1);
    // Turns the mouse wheel over a point of the window: `notches` down, up
    // when negative.
    void wheel(QPoint at, int notches);
    // Keystrokes for `text`, to whatever has the keyboard focus.
    void type(const QString& text);
    // Presses keys by their X names, one after the other: "ctrl+a", "Home Return".
    void key(const QString& keys);
    // The window's size on the screen now.
    QSize size();
    // The window's `width` x 640 as it is on the screen now, with the pointer
    // moved off the buttons so that they show their resting look.
    QImage shot(int width = 520);
    // The whole 1280 x 800 screen.
    QImage screen();
    // What quit() and waitForExit() give for a program that has no exit
    // code to give: none of them is one (0 to 255).
    static constexpr int crashed = -1;       // ended by a signal of its own
    static constexpr int stillRunning = -2;  // waitForExit(): not ended yet
    static constexpr int killed = -3;        // quit(): had to be killed
    // SIGTERM, as a service manager stops it, then SIGKILL if it has not
    // ended within `patienceMs`; its exit code, or one of the above.
    int quit(int patienceMs = 20000);
    // The exit code of a program that ends by itself, or one of the above.
    int waitForExit(int milliseconds);
    // What the program printed so far.
    QString output();
    // For a failure message: the program, the display it was given, whether
    // it still runs (or how it ended) and what it printed so far.
    QString describe();

private:
    QString xdotool(const QStringList& arguments);

    int ending() const;  // how the program ended, once it has

    void endStart();  // lets the next session start

    QTemporaryDir files_;  // Xvfb's messages, screenshots
    QString xvfbLog_;
    QString notStarted_;                      // why neither Xvfb nor the program was started
    std::unique_ptr<MachineLock> startLock_;  // held from Xvfb's start until the window shows
    QProcess xvfb_, program_;
    QString display_, window_, output_;
    QPoint origin_;
    bool killed_ = false;
};

// A station folder in `home` with `settingsJSON` as its settings file, found
// through the dot file; returns the station folder.
QString writeStation(const QString& home, const QString& settingsJSON);

// An executable sh script `name` in `folder` running `body`; returns its
// path, empty when it could not be written.
QString writeScript(const QString& folder, const QString& name, const QString& body);

// An executable script `name` in `folder` that hands over to `command`
// (`exec` in sh), to start the program as a launcher or a terminal would:
// with its streams redirected or closed, or as another user. Returns its path.
QString writeLauncher(const QString& folder, const QString& name, const QString& command);

// The sanitizers' options for a program run as another user: the files they
// name lie in the checkout, which that user may not read (a checkout under
// root's home), so they name copies in `folder`, which it can.
QMap<QString, QString> sanitizerOptionsReadableIn(const QString& folder);

}  // namespace ondaline::test
